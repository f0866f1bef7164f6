#include "CSplashSound.h"

#include <canberra.h>

#include <memory>

namespace {

struct CContextDeleter {
    void operator()(ca_context* pContext) const { ca_context_destroy(pContext); }
};

// Destroying a context cancels its sounds, and the splash goes away long
// before its chime has ended; so the context lives as long as the program.
ca_context* SharedContext() {
    static const std::unique_ptr<ca_context, CContextDeleter> s_pContext = [] {
        ca_context* pContext = nullptr;
        if (ca_context_create(&pContext) != CA_SUCCESS)
            return std::unique_ptr<ca_context, CContextDeleter>();
        ca_context_change_props(pContext, CA_PROP_APPLICATION_NAME, "wirelet", nullptr);
        return std::unique_ptr<ca_context, CContextDeleter>(pContext);
    }();
    return s_pContext.get();
}

} // namespace

void CSplashSound::Play(const std::string& strWaveFile) {
    ca_context* pContext = SharedContext();
    if (!pContext)
        return;
    // The backends open and decode the file before they return, so a missing
    // or broken file is known here, in time to play the default instead.
    if (ca_context_play(pContext, 0, CA_PROP_MEDIA_FILENAME, strWaveFile.c_str(), nullptr) ==
        CA_SUCCESS)
        return;
    ca_context_play(pContext, 0, CA_PROP_EVENT_ID, "bell", CA_PROP_EVENT_DESCRIPTION,
                    "wirelet is starting", nullptr);
}
