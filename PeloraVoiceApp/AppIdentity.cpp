#include "PeloraVoiceApp/AppIdentity.h"
