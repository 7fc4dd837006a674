// The program's main message loop, which only the program itself can end: any
// process of the desktop can post WM_QUIT to a window or a thread.
#pragma once

namespace quenvar {

// Runs the calling thread's message loop until EndMainLoop is called on this
// thread. A quit message the program did not post itself is passed over;
// onForeignQuit is called for the first one of the run (null: nothing).
void RunMainLoop(void (*onForeignQuit)());

// Ends RunMainLoop of the calling thread once the messages before it are handled.
void EndMainLoop();

}  // namespace quenvar
