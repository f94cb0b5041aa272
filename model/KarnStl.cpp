#include "model/KarnStl.h"

CKarnStl::CKarnStl() = default;

CKarnStl::~CKarnStl() = default;
