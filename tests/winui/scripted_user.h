#pragma once
// A user who answers the dialogs' questions from a script and writes down
// everything that was asked: message boxes (text, caption, style, owner),
// the file-open and save dialogs and the folder browser. Also the bounded message
// pump the dialog tests wait with.

#include <windows.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/user_prompts.h"

namespace winuitest {

struct Asked {
    enum Kind { kMessage, kOpenFile, kBrowse, kSaveFile } kind = kMessage;
    HWND owner = nullptr;
    std::u16string text;     // message text; filter of the file dialogs; browser title
    std::u16string caption;  // message caption; start folder of the browser; name offered for saving
    UINT style = 0;          // message style; file dialog flags
    // The restore button as it was while the box was up.
    bool restoreEnabled = false;
    std::u16string restoreText;
};

class ScriptedUser : public UserPrompts {
public:
    // Answers in order; an empty queue answers IDOK / cancels the dialog.
    std::deque<int> messageAnswers;
    // Run as each message box opens, where a real box starts its own
    // message loop (and so handles what was queued for the dialog).
    std::function<void()> inMessageBox;
    std::deque<std::optional<std::u16string>> files;    // nullopt: cancelled
    std::deque<std::optional<std::u16string>> folders;  // nullopt: cancelled
    std::deque<std::optional<std::u16string>> saves;    // nullopt: cancelled
    std::vector<Asked> asked;
    HWND dialog = nullptr;  // whose restore button is looked at

    int ShowMessage(HWND owner, const std::u16string& text, const std::u16string& caption, UINT style) override;
    bool OpenFile(HWND owner, const std::u16string& filter, DWORD flags, std::u16string& path) override;
    bool BrowseForFolder(HWND owner, const std::u16string& title, const std::u16string& startFolder,
                         std::u16string& path) override;
    bool SaveFile(HWND owner, const std::u16string& filter, const std::u16string& fileName,
                  std::u16string& path) override;
    // The question what to do with what stands at the entries' paths:
    // answered as proposed (its default button), never the real window,
    // which would wait for a person.
    int decisionsAsked = 0;
    bool DecideAboutExisting(HWND owner, const DecisionTexts& texts, RestoreDecision& decision) override;

    std::vector<Asked> Messages() const;
    std::vector<Asked> Browses() const;
    std::vector<Asked> Saves() const;
};

// Handles messages (through the dialog manager for `dialog`) until `done`
// holds or `milliseconds` have passed. False on time-out.
bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD milliseconds = 10000);
// Handles what is queued now, then returns.
void PumpPending(HWND dialog);

std::u16string WindowText(HWND window);

}  // namespace winuitest
