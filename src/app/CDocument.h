// A document: what one monitor window shows. It knows its views; closing it
// destroys every window on it and then the document itself.
#pragma once

#include "CCmdTarget.h"
#include "CPaneStore.h"

#include <QString>

#include <vector>

class CView;
class CFrameWnd;
class CMultiDocTemplate;

class CDocument : public CCmdTarget {
public:
    CDocument() = default;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;
    ~CDocument() override;

    const QString& GetTitle() const { return m_strTitle; }
    virtual void SetTitle(const QString& strTitle);

    // The text of the receive and of the send pane: every window on the
    // document shows the same.
    CPaneStore& GetReadStore() { return m_readStore; }
    CPaneStore& GetWriteStore() { return m_writeStore; }

    const std::vector<CView*>& GetViews() const { return m_views; }
    virtual void AddView(CView* pView);
    void RemoveView(CView* pView);
    // Tells every view but pSender (nullptr: every view) that lHint happened.
    void UpdateAllViews(CView* pSender, long lHint);
    // Each window that shows a view of this document, once, in view order.
    std::vector<CFrameWnd*> GetFrames() const;

    virtual bool OnNewDocument() { return true; }
    // False keeps the document open.
    virtual bool SaveModified() { return true; }
    // Destroys the windows and then the document: nothing of it may be used
    // after this returns.
    virtual void OnCloseDocument();
    // The user closes one window of this document. Closing its last window
    // closes the document.
    void OnCloseFrame(CFrameWnd* pFrame);

    bool OnCmdMsg(UINT nID, ECmdMsg eMsg, CCmdUI* pCmdUI) override;
    void OnFileClose();
    // Asks for a file, writes the document to it and takes its name as title;
    // the file enters the recent-file list.
    void OnFileSaveAs();
    // Writes the document to strPath; false when the file cannot be written,
    // which has then been reported.
    bool OnSaveDocument(const QString& strPath);

    void SetDocTemplate(CMultiDocTemplate* pTemplate) { m_pDocTemplate = pTemplate; }

private:
    QString m_strTitle;
    CPaneStore m_readStore;
    CPaneStore m_writeStore;
    std::vector<CView*> m_views;
    CMultiDocTemplate* m_pDocTemplate = nullptr;
};
