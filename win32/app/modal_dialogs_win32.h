// The small modal dialogs of the settings as the settings dialog opens
// them: createModalDialogs gives the ModalDialogs that opens each one
// modally over `owner`.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <memory>

#include "settings/modal_dialogs.h"

namespace iw::win32app {

std::unique_ptr<settings::ModalDialogs> createModalDialogs(HWND owner);

}  // namespace iw::win32app
