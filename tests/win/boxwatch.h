#pragma once
// Answers the modal boxes a test expects and fails the test on any other,
// which it closes, so that no test ever hangs on a box. A box is a visible
// dialog of this process that is a message box, disables its owner (a modal
// dialog) or, owned by the desktop, has a Cancel button.
#include <windows.h>
#include <functional>
#include <string>

using BoxAnswer = std::function<void(HWND box)>;

void StartBoxWatcher();
// The next box with this caption is answered by `answer` (on the watcher thread).
void ExpectBox(const std::string &caption, BoxAnswer answer);
// Expected boxes that have not appeared; clears them.
int TakePendingBoxes();

// Runs `open` (a modal dialog, owned by a window of this thread) here while
// `drive` works the dialog of that caption on the watcher thread; open's
// result. All of drive's checks count, even when the dialog ends early.
INT_PTR RunDialog(const std::string &caption, const std::function<INT_PTR(HWND owner)> &open,
                  const std::function<void(HWND)> &drive);
// From a dialog that drive works: sends it `command` on another thread and
// answers the box of that caption that the command opens, and that disables
// the dialog, with `button`, typing `name` into the name dialog first if
// given; the box's text.
std::string AnswerBox(HWND dlg, WPARAM command, const char *caption, int button, const char *name = nullptr);

// Answers: click a button; note a message box's text, then click OK; type a
// path into a file dialog and confirm it.
BoxAnswer ClickButton(int id);
BoxAnswer NoteText(std::string *text);
BoxAnswer TypePath(const std::string &path);
