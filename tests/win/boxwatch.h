#pragma once
// Answers the modal boxes a test expects and fails the test on any other, so
// that no test ever hangs on a box. A box is a visible dialog of this process
// that is a message box, disables its owner (a modal dialog) or, owned by
// the desktop, has a Cancel button. An unexpected
// box fails the running test and is closed.
#include <windows.h>
#include <functional>
#include <string>

using BoxAnswer = std::function<void(HWND box)>;

void StartBoxWatcher();
// The next box with this caption is answered by `answer` (on the watcher thread).
void ExpectBox(const std::string &caption, BoxAnswer answer);
// Expected boxes that have not appeared; clears them.
int TakePendingBoxes();

// Answers: click a button (checking other buttons first, if given).
BoxAnswer ClickButton(int id);
BoxAnswer CheckThenClick(std::initializer_list<int> checks, int id);
// Notes a message box's text in *text, then clicks OK.
BoxAnswer NoteText(std::string *text);
// Types a path into a file dialog and confirms it.
BoxAnswer TypePath(const std::string &path);
