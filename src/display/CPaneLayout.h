// Where the characters of a pane line go, in pixels: a fixed advance per
// character (the panes use a fixed-pitch font) and tab stops set in dialog
// units. A TAB moves to the next stop strictly right of the current x; past
// the last stop it goes on in steps of the last interval.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

class CPaneLayout {
public:
    // The edit control's default: a stop every 32 dialog units.
    static constexpr int DEFAULT_TAB_UNITS = 32;

    CPaneLayout();

    // Advances of the characters U+0000 to U+00FF, and of every other one.
    void SetAdvances(const std::array<double, 256>& advances, double dOther);
    // dPixelsPerUnit: 2 at 96 dpi, where 4 units are an 8-pixel character.
    void SetTabStops(std::span<const int> dialogUnits, double dPixelsPerUnit);

    double Advance(char16_t ch) const { return ch < 256 ? m_advances[ch] : m_dOtherAdvance; }
    double NextTab(double x) const;
    // x after character ch placed at x.
    double Step(char16_t ch, double x) const { return ch == u'\t' ? NextTab(x) : x + Advance(ch); }

    // x at which character nIndex of the line starts (the line's width at its end).
    double XOf(std::u16string_view line, std::size_t nIndex) const;
    // The character boundary nearest to x.
    std::size_t IndexAt(std::u16string_view line, double x) const;

private:
    std::array<double, 256> m_advances{};
    double m_dOtherAdvance = 0;
    std::vector<double> m_stops; // pixels, ascending
    double m_dInterval = 0;      // step past the last stop
};
