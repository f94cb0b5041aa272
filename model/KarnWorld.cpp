#include "model/KarnWorld.h"

CKarnWorld::CKarnWorld() = default;

CKarnWorld::~CKarnWorld() = default;
