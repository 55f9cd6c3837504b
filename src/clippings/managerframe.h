#pragma once
// Dialog 912, shared by the local and the cloud clippings managers: the list,
// the picture buttons and the double-click choice. Each manager brings its
// own actions.
#include "clipentry.h"
#include <windows.h>

// A picture button and its images: [0] the disabled look, [1] the enabled look.
struct PictureButton {
    int id;
    HBITMAP *images;
    int enabledImage;
    int disabledImage;
};

// What sets a manager of dialog 912 apart from the other.
struct ManagerKind {
    const char *choiceSetting;    // where the double-click choice is kept
    const PictureButton *buttons; // rename, delete, copy, synchronise
    bool (*open)(HWND dlg);       // fills the list; false ends the dialog with 2
    void (*rename)(HWND dlg);
    void (*remove)(HWND dlg);
    void (*copy)(HWND dlg);
    void (*synchronise)(HWND dlg);
};
// The dialog procedure of a manager, for its own procedure to call.
INT_PTR ManagerDlgProc(HWND dlg, UINT msg, WPARAM wParam, const ManagerKind &kind);
// Remembers the double-click choice and ends the dialog.
void CloseManager(HWND dlg, INT_PTR result, const char *choiceSetting);

// The selected list item's text and data; false without a selection.
bool GetSelectedItem(HWND dlg, char (&name)[CLIPNAME_MAX + 1], LRESULT *data);
// The name dialog in rename mode, the manager waiting for it; the length of
// the new name, 0 when cancelled. The name is made one that can travel to
// the service (SanitiseClipName).
UINT AskNewName(HWND dlg, char (&name)[CLIPNAME_MAX + 1]);
// "Confirm Delete" for the named clipping, No by default; true on Yes.
bool ConfirmDelete(HWND dlg, const char *name);
