#include "PeloraVoiceApp/window/PeloraVoiceApplication.h"

int main(int argc, char** argv) { return pelora::runPeloraVoiceApp(argc, argv); }
