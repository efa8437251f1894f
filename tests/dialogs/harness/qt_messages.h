// Drops the offscreen platform's notes that say nothing about the program (windows it cannot
// size or raise); everything else reaches standard error as usual.
#pragma once

namespace trem_harness {

void InstallQuietQtMessages();

}  // namespace trem_harness
