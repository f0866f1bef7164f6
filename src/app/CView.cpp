#include "CView.h"

#include "CDocument.h"

CView::~CView() {
    SetDocument(nullptr);
}

void CView::SetDocument(CDocument* pDocument) {
    if (m_pDocument != nullptr)
        m_pDocument->RemoveView(this);
    m_pDocument = pDocument;
    if (m_pDocument != nullptr)
        m_pDocument->AddView(this);
    OnDocumentChanged();
}
