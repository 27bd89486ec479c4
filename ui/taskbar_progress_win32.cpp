// The taskbar button's progress bar through the shell's taskbar list.

#include "ui/taskbar_progress.h"

#include <objbase.h>
#include <shobjidl.h>

namespace {

struct ReleaseComObject {
    void operator()(IUnknown* object) const noexcept { object->Release(); }
};

class ShellTaskbarProgress final : public TaskbarProgress {
public:
    ShellTaskbarProgress() = default;
    ShellTaskbarProgress(const ShellTaskbarProgress&) = delete;
    ShellTaskbarProgress& operator=(const ShellTaskbarProgress&) = delete;
    ~ShellTaskbarProgress() override {
        // The object goes before the COM library it came from.
        list_.reset();
        if (comStarted_) ::CoUninitialize();
    }

    void ShowProgress(HWND window, std::uint64_t completed, std::uint64_t total) override {
        if (ITaskbarList3* list = List()) {
            list->SetProgressState(window, TBPF_NORMAL);
            list->SetProgressValue(window, completed, total);
        }
    }
    void ShowError(HWND window) override {
        if (ITaskbarList3* list = List()) list->SetProgressState(window, TBPF_ERROR);
    }
    void Clear(HWND window) override {
        if (ITaskbarList3* list = List()) list->SetProgressState(window, TBPF_NOPROGRESS);
    }

private:
    // Created when a run first reports, not at start-up: a tool that is
    // only opened and closed never loads the shell's taskbar objects. One
    // attempt only; a system without the interface (before Windows 7, or an
    // emulation layer without it) just goes without the bar.
    ITaskbarList3* List() {
        if (tried_) return list_.get();
        tried_ = true;
        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        comStarted_ = SUCCEEDED(com);  // S_FALSE too: every success is balanced
        ITaskbarList3* list = nullptr;
        if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                      reinterpret_cast<void**>(&list))) ||
            !list)
            return nullptr;
        list_.reset(list);
        if (FAILED(list_->HrInit())) list_.reset();
        return list_.get();
    }

    std::unique_ptr<ITaskbarList3, ReleaseComObject> list_;
    bool tried_ = false;
    bool comStarted_ = false;
};

}  // namespace

std::unique_ptr<TaskbarProgress> MakeShellTaskbarProgress() { return std::make_unique<ShellTaskbarProgress>(); }
