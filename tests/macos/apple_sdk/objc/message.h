#pragma once
// As in the SDK's <objc/message.h> without OBJC_OLD_DISPATCH_PROTOTYPES: the
// function is to be cast to the method's own type before it is called.
#include <objc/objc.h>
#include <objc/runtime.h>

OBJC_EXPORT void objc_msgSend(void /* id self, SEL op, ... */);
