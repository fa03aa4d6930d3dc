#include "PeloraVoiceApp/hud/HUDMode.h"

const char* HUDMode::caseName() const {
    static constexpr const char* names[] = {"recording", "transcribing", "completed", "hidden"};
    return names[value_.index()];
}
