#include "app/KorvoWavApp.h"

int main(int argc, char** argv) {
    korvo::CKorvoWavApp app(argc, argv);
    return app.run();
}
