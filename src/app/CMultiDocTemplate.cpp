#include "CMultiDocTemplate.h"

#include "CDocument.h"
#include "CFrameWnd.h"

#include <QFileInfo>

#include <algorithm>

CMultiDocTemplate* g_pDocTemplate = nullptr;

CMultiDocTemplate::CMultiDocTemplate(QString strDocName, DocumentFactory makeDocument,
                                     FrameFactory makeFrame)
    : m_strDocName(std::move(strDocName)), m_makeDocument(std::move(makeDocument)),
      m_makeFrame(std::move(makeFrame)) {}

CMultiDocTemplate::~CMultiDocTemplate() {
    CloseAllDocuments();
}

CDocument* CMultiDocTemplate::CreateNewDocument() {
    std::unique_ptr<CDocument> pDocument = m_makeDocument();
    if (!pDocument || !pDocument->OnNewDocument())
        return nullptr;
    pDocument->SetDocTemplate(this);
    pDocument->SetTitle(m_strDocName + QString::number(++m_nUntitledCount));
    m_documents.push_back(std::move(pDocument));
    return m_documents.back().get();
}

CFrameWnd* CMultiDocTemplate::CreateNewFrame(CDocument* pDocument) {
    return m_makeFrame(pDocument);
}

CDocument* CMultiDocTemplate::OpenDocumentFile(const QString& strPath) {
    CDocument* pDocument = CreateNewDocument();
    if (pDocument == nullptr)
        return nullptr;
    CFrameWnd* pFrame = CreateNewFrame(pDocument);
    if (!strPath.isEmpty())
        pDocument->SetTitle(QFileInfo(strPath).fileName());
    InitialUpdateFrame(pFrame, pDocument, true);
    return pDocument;
}

void CMultiDocTemplate::InitialUpdateFrame(CFrameWnd* pFrame, CDocument* pDocument,
                                           bool bMakeVisible) {
    (void)pDocument;
    pFrame->OnUpdateFrameTitle();
    if (bMakeVisible)
        pFrame->ActivateFrame();
}

void CMultiDocTemplate::RemoveDocument(CDocument* pDocument) {
    const auto it = std::ranges::find(m_documents, pDocument, &std::unique_ptr<CDocument>::get);
    if (it == m_documents.end())
        return;
    // Moved out first, so that a document's destructor never sees itself in the list.
    std::unique_ptr<CDocument> pGone = std::move(*it);
    m_documents.erase(it);
}

void CMultiDocTemplate::CloseAllDocuments() {
    while (!m_documents.empty())
        m_documents.back()->OnCloseDocument();
}
