// Which lock keys are on, as far as the windowing system tells: X11 keeps the
// keyboard's indicators; elsewhere (Wayland, offscreen) nothing is known.
#pragma once

#include <optional>

namespace KeyboardLocks {

inline constexpr unsigned CAPS = 1;
inline constexpr unsigned NUM = 2;
inline constexpr unsigned SCROLL = 4;

// The bits of the locks that are on; empty where the system does not tell.
std::optional<unsigned> Query();

} // namespace KeyboardLocks
