#include "KeyboardLocks.h"

#include <QGuiApplication>

#include <X11/XKBlib.h>

namespace KeyboardLocks {

std::optional<unsigned> Query() {
    const auto* pX11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* pDisplay = pX11 != nullptr ? pX11->display() : nullptr;
    if (pDisplay == nullptr)
        return std::nullopt;
    // By name: the indicators' numbers differ between keyboard maps.
    constexpr std::pair<const char*, unsigned> NAMES[] = {
        {"Caps Lock", CAPS}, {"Num Lock", NUM}, {"Scroll Lock", SCROLL}};
    unsigned nLocks = 0;
    for (const auto& [pszName, nBit] : NAMES) {
        Bool bOn = False;
        const Atom atom = XInternAtom(pDisplay, pszName, True);
        if (atom != None && XkbGetNamedIndicator(pDisplay, atom, nullptr, &bOn, nullptr, nullptr) &&
            bOn)
            nLocks |= nBit;
    }
    return nLocks;
}

} // namespace KeyboardLocks
