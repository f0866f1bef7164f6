// What the formatter needs of a pane: the line semantics of a multi-line edit
// control. Lines end in CR LF; line L starts at LineIndex(L); the text after
// the last CR LF is the last line, empty when the text ends in a line break.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class IPane {
public:
    virtual ~IPane() = default;

    virtual std::size_t TextLength() const = 0;
    virtual int LineCount() const = 0;
    // Character index at which line nLine starts, or -1 when there is no such line.
    virtual std::ptrdiff_t LineIndex(int nLine) const = 0;
    virtual std::u16string Text() const = 0;

    // Appends at the end of the text and scrolls to it.
    virtual void AppendText(std::u16string_view text) = 0;
    // Replaces line nLine together with its line break; when nLine is the empty
    // last line (or past the end) the text is appended.
    virtual void ReplaceLine(int nLine, std::u16string_view text, bool bScrollCaret) = 0;
    // Drops whole lines from the start until at least nChars characters are
    // gone, but never more than nMaxLines lines; returns the lines dropped.
    virtual int RemoveLeadingLines(std::size_t nChars, int nMaxLines) = 0;
    virtual void Clear() = 0;
};
