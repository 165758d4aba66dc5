#include "mail/IdReply.h"

TIdReply::~TIdReply() = default;
