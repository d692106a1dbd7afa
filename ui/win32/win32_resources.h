// Reaching the resources of tslflash.rc from C++.
#pragma once

#include "ui/dialog_view.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/windows_api.h"

namespace tslflash {

// A numbered resource's name, as the resource functions take it.
inline LPCSTR ResourceName(int id) {
  return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)));
}

// The module whose resources the window shows: the program itself.
inline HINSTANCE ResourceModule() { return GetModuleHandleA(nullptr); }

// The template's control ids are the dialog's.
static_assert(IDCANCEL == static_cast<int>(ControlId::Exit));
static_assert(IDOK == static_cast<int>(ControlId::Ok));
static_assert(IDC_DEVICES_LABEL == static_cast<int>(ControlId::DevicesLabel));
static_assert(IDC_DRIVE_TREE == static_cast<int>(ControlId::DriveTree));
static_assert(IDC_PROGRESS == static_cast<int>(ControlId::Progress));
static_assert(IDC_UPGRADE == static_cast<int>(ControlId::Upgrade));
static_assert(IDC_LOG == static_cast<int>(ControlId::Log));

}  // namespace tslflash
