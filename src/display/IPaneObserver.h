// What a window's pane learns of each edit of the text it shows, after the
// edit, so that it keeps its place, its selection and its scroll position.
#pragma once

#include <cstddef>

class IPaneObserver {
public:
    virtual ~IPaneObserver() = default;
    // Lines from nFirstLine on changed; nScrollTo is where the edit ended,
    // to be scrolled to when bScroll.
    virtual void OnStoreEdited(int nFirstLine, std::size_t nScrollTo, bool bScroll) = 0;
    // nLines leading lines, nChars characters in all, went.
    virtual void OnLinesDropped(std::size_t nChars, int nLines) = 0;
    virtual void OnStoreCleared() = 0;
};
