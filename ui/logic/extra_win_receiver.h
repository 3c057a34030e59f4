// How the running renamer's window learns what another start of the program
// asks of it.
#pragma once

#include <string>

namespace morix::ui {

class CExtraWinReceiver {
  public:
    virtual ~CExtraWinReceiver() = default;
    // End the window as Quit does, without saving the options.
    virtual void OnCloseRequest() = 0;
    // Add path: one item, or the files directly inside it when isFolder.
    virtual void OnAddPath(const std::u16string& path, bool isFolder) = 0;
};

}  // namespace morix::ui
