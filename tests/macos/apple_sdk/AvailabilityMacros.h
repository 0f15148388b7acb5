#pragma once
// Only what GoogleTest asks of it when compiled for macOS.
#define MAC_OS_X_VERSION_10_9 1090
#define MAC_OS_X_VERSION_MIN_REQUIRED MAC_OS_X_VERSION_10_9
#define MAC_OS_X_VERSION_MAX_ALLOWED MAC_OS_X_VERSION_10_9
