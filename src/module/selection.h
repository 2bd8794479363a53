// The ball in play: which ball the game selected, which file it loads for the
// match ball, and the operations the selection hooks run.
#pragma once

#include <stdint.h>

#include "catalogue/catalogue.h"
#include "platform/platform.h"

// 0-based index of the ball in play (ball number SelectedBall + 1). Shared by
// the hooks and the archive callback on different threads: a plain 32-bit
// word, read and written atomically.
extern int32_t SelectedBall;
// The game file id the patched game code pushes when it loads the ball model
// (it reads this word by its address). Archive 11, file 0 or file 17.
extern uint32_t BallFileId;
// loaderDir + GDB\balls\ + folder + \ball.bin of the ball in play.
extern char16_t BallModelPath[PathUnits];
// Held while BallModelPath is formed and used: the hooks and the archive
// callback run on different threads.
extern PlatformLock BallModelPathLock;

inline int32_t selectedBall() {
    return __atomic_load_n(&SelectedBall, __ATOMIC_SEQ_CST);
}
inline void setSelectedBall(int32_t ball) {
    __atomic_store_n(&SelectedBall, ball, __ATOMIC_SEQ_CST);
}
inline uint32_t ballFileId() {
    return __atomic_load_n(&BallFileId, __ATOMIC_SEQ_CST);
}
inline void setBallFileId(uint32_t id) {
    __atomic_store_n(&BallFileId, id, __ATOMIC_SEQ_CST);
}

inline uint32_t gameFileId(uint32_t archive, uint32_t file) {
    return (archive << 24) | file;
}

// Offset of the game's current ball number in its selection record.
enum : uint32_t { SelectionBallOffset = 25 };

// Decides the match ball after BallLoadHook stored the game's number in
// SelectedBall: a number outside the catalogue falls back to the game's
// stored selection, then to a random ball; BallFileId names the module's
// model file when it exists, else the game's own ball.
void ChooseBall();
// Writes SelectedBall into the game's selection record, when there is one.
void StoreSelection();
// True when ball.bin of SelectedBall opens for reading.
bool BallFileExists();

// Forms BallModelPath for `ball` (0-based). A path that does not fit, or a
// ball without a folder slot, leaves it empty and gives false.
bool formBallModelPath(int32_t ball);
