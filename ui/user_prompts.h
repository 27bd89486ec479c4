#pragma once
// Everything the dialogs ask the user goes through this interface: message
// boxes, the file-open and save dialogs and the folder browser. The program uses the
// system's own dialogs (SystemUserPrompts); a test answers in the user's
// place and records what was asked.

#include <windows.h>

#include <string>

#include "ui/restore_decision.h"

class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // A message box owned by `owner`. Returns the button chosen (IDOK,
    // IDYES, IDNO...); 0 when the box could not be shown.
    virtual int ShowMessage(HWND owner, const std::u16string& text, const std::u16string& caption,
                            UINT style) = 0;

    // The file-open dialog. `filter` pairs labels and patterns in the form
    // "label|pattern|...|" ended by an extra '|'. True, with the chosen full
    // path, when the user confirmed a file.
    virtual bool OpenFile(HWND owner, const std::u16string& filter, DWORD flags, std::u16string& path) = 0;

    // The save dialog, offering the name `fileName`; `filter` as for
    // OpenFile, its first pattern's extension added to a name typed without
    // one. It asks before replacing a file. True, with the chosen full path,
    // when the user confirmed a name.
    virtual bool SaveFile(HWND owner, const std::u16string& filter, const std::u16string& fileName,
                          std::u16string& path) = 0;

    // The folder browser, opening with `startFolder` selected. True when the
    // user chose an item; `path` is its file-system path, empty when the
    // item is not a file-system folder.
    virtual bool BrowseForFolder(HWND owner, const std::u16string& title, const std::u16string& startFolder,
                                 std::u16string& path) = 0;

    // The question before a restore where files stand at the entries'
    // paths: `texts` says what stands there, `decision` holds the proposed
    // answer on entry and the user's on return. False for Cancel. Unless a
    // test answers it, the dialog of template 104 asks
    // (restore_decision_win32.cpp).
    virtual bool DecideAboutExisting(HWND owner, const DecisionTexts& texts, RestoreDecision& decision);
};

// The real dialogs of the system.
UserPrompts& SystemUserPrompts();

// The folder browser's callback: selects the start folder (the text in
// `data`) when the browser has opened; 0 for every notification.
int CALLBACK BrowseCallbackProc(HWND hwnd, UINT message, LPARAM param, LPARAM data);
