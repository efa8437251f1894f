// Drops the offscreen platform's notes that say nothing about the program (windows it cannot
// size or raise, a missing runtime directory); everything else reaches standard error as usual.
// For programs and tests that run the dialogs headless.
#pragma once

void InstallQuietQtMessages();
