#pragma once
// The clipping store: up to ten named clippings (Unicode text with optional
// rich-text and HTML variants) in the sections "Clip A".."Clip J" of the
// settings store. Every operation reloads what it needs from the registry.
#include "clipentry.h"
#include <windows.h>

extern ClippingEntry m_Clippings[MAX_CLIPPINGS];
extern uint32_t m_ClipSort[MAX_CLIPPINGS];
extern uint32_t m_NumClippings;

// Fills the table from the registry and the order table by name; returns the count.
uint32_t LoadClippingNames(ClippingEntry *table, uint32_t capacity, uint32_t *order);
// The section name "Clip %c" of a slot.
void FmtRegApp(char *buf, size_t size, uint32_t slot);

BOOL MayStoreClipping();
// Stores (or with replace set, replaces by name) a clipping; returns the new
// number of clippings, 0 when nothing was stored. Null variants are removed.
uint32_t StoreClipping(const char *name, BOOL replace, const wchar_t *text, const char *rtf, const char *html);
// Places the slot's formats on the clipboard, which the caller has opened
// and (with PrepUndo) saved; returns the number of formats placed.
UINT RecallClipping(HWND hwnd, uint32_t slot);
// Removes the slot's clipping and lowers "ClipCount"; returns the new count.
DWORD DeleteLocalClip(uint32_t slot);
