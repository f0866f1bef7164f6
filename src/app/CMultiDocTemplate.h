// Makes monitor documents and their windows. It owns the open documents; a
// document leaves it, and is deleted, when it closes.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class CDocument;
class CFrameWnd;

class CMultiDocTemplate {
public:
    using DocumentFactory = std::function<std::unique_ptr<CDocument>()>;
    using FrameFactory = std::function<CFrameWnd*(CDocument*)>;

    // strDocName: the name untitled documents are numbered after.
    CMultiDocTemplate(QString strDocName, DocumentFactory makeDocument, FrameFactory makeFrame);
    CMultiDocTemplate(const CMultiDocTemplate&) = delete;
    CMultiDocTemplate& operator=(const CMultiDocTemplate&) = delete;
    ~CMultiDocTemplate();

    // A new document titled after the template ("Wirelet1", "Wirelet2", ...).
    CDocument* CreateNewDocument();
    // A new window with its panes, attached to the document, not yet shown.
    CFrameWnd* CreateNewFrame(CDocument* pDocument);
    void InitialUpdateFrame(CFrameWnd* pFrame, CDocument* pDocument, bool bMakeVisible);
    // A new document in a new, active window: untitled without a path,
    // titled after the file's name with one. nullptr if it cannot be made.
    CDocument* OpenDocumentFile(const QString& strPath);
    // Called by a closing document: deletes it.
    void RemoveDocument(CDocument* pDocument);
    void CloseAllDocuments();

    std::size_t GetDocumentCount() const { return m_documents.size(); }

private:
    QString m_strDocName;
    DocumentFactory m_makeDocument;
    FrameFactory m_makeFrame;
    std::vector<std::unique_ptr<CDocument>> m_documents;
    int m_nUntitledCount = 0;
};

// The one template through which monitor windows are made.
extern CMultiDocTemplate* g_pDocTemplate;
