// Default (empty) implementations of the scene interface.
#include "AbstractScene.h"

AbstractScene::~AbstractScene() = default;

void AbstractScene::Init() {}
void AbstractScene::Destroy() {}
void AbstractScene::Keyboard(unsigned char, int, int, retStatus&) {}
void AbstractScene::KeyboardUp(unsigned char, int, int, retStatus&) {}
void AbstractScene::Speckey(int, int, int, retStatus&) {}
void AbstractScene::SpecialUp(int, int, int, retStatus&) {}
void AbstractScene::LButtonDown(int, int, retStatus&) {}
void AbstractScene::LButtonUp(int, int, retStatus&) {}
void AbstractScene::MButtonDown(int, int, retStatus&) {}
void AbstractScene::MButtonUp(int, int, retStatus&) {}
void AbstractScene::RButtonDown(int, int, retStatus&) {}
void AbstractScene::RButtonUp(int, int, retStatus&) {}
void AbstractScene::Wheel(int, retStatus&) {}
void AbstractScene::MouseMove(int, int, retStatus&) {}
