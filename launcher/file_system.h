#pragma once
// The small questions and the one change about files and folders that
// every step asks, over the platform's files.
#include "launcher/platform.h"
#include "launcher/text.h"

// Makes the folder exist, creating missing parents first.
OsResult ForceFolder(const Text& path);
bool IsExistingFolder(const Text& path);
// A file, not a folder; some entries answer only a search of their folder.
bool IsExistingFile(const Text& path);
