#pragma once

#include "PeloraVoiceApp/controller/AppViewModelProperty.h"

namespace pelora {

// Told on the main thread, after the new value is stored, that a published property changed.
class AppViewModelListener {
public:
    virtual ~AppViewModelListener() = default;
    virtual void appViewModelDidChange(AppViewModelProperty property) = 0;
};

}  // namespace pelora
