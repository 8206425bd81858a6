#include "sharedkitlogging.h"

Q_LOGGING_CATEGORY(lcSharedKit, "vela.sharedkit", QtInfoMsg)
