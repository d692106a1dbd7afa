#include "ui/drive_tree.h"

#include <algorithm>

#include "models/model_catalogue.h"
#include "models/package_header_fields.h"
#include "models/tool_variant.h"

namespace tslflash {
namespace {

constexpr std::size_t kDisplayTextLength = 28;
constexpr char kAnyDrive = '*';
constexpr std::string_view kCurrentFirmware = " Current firmware : ";

// A zero-terminated text within its field.
std::string_view UpToNul(std::string_view field) { return field.substr(0, field.find('\0')); }

std::string_view ModelCodeText(const std::array<char, 10>& code) {
  return UpToNul({code.data(), code.size()});
}

// Whether the drive with this display text is one the package is not for.
bool IsGreyed(std::string_view displayText, const PackageHeaderCopy& header,
              DriveSelection& selection) {
  if (!CheckPackageTag(header)) return true;
  const std::string_view packageId = PackageIdOf(header);
  std::string driveId(displayText.substr(0, kDriveIdLength));
  driveId.resize(kDriveIdLength, '\0');  // INQUIRY fields that hold zeros compare as zeros
  if (packageId.front() == kAnyDrive) {
    selection.selectedModelCode.fill('\0');
    if (const auto code = LookUpModelCode(driveId)) {
      std::copy_n(code->begin(), std::min(code->size(), selection.selectedModelCode.size() - 1),
                  selection.selectedModelCode.begin());
    }
    return ModelCodeText(selection.selectedModelCode) != UpToNul(AltProductNameOf(header));
  }
  return driveId != packageId;
}

}  // namespace

void FillDriveTree(DialogView& view, DriveRegistry& registry, const PackageHeaderCopy& header,
                   DriveSelection& selection, bool greyEvery) {
  view.ClearTree();
  const TreeItem root = view.InsertTreeItem(kNoTreeItem, kTreeRootText, kRootImage);
  registry.EnumerateDrives();
  const std::uint8_t count = registry.GetDriveCount();
  if (count == 0) {
    view.ShowMessageBox({"No Device found!", std::nullopt, BoxButtons::Ok, BoxIcon::None});
  }
  for (std::uint8_t i = 0; i < count; ++i) {
    (void)registry.SelectDrive(i);
    std::string text = registry.FormatDriveText().value_or("");
    text.resize(std::min(text.size(), kDisplayTextLength));
    selection.selectedDriveText = text;
    const TreeItem item = view.InsertTreeItem(root, text, kDriveImage);
    // The package check runs either way: it leaves the model code it looked up.
    if (IsGreyed(text, header, selection) || greyEvery) view.AssignItemColor(item, kGreyedDrive);
  }
  view.ExpandTreeItem(root);
  (void)registry.SelectDrive(0);
}

void OnDriveSelChanged(DialogView& view, const PackageHeaderCopy& header,
                       DriveSelection& selection) {
  selection.selectedDriveIndex = 0;
  const TreeItem root = view.GetRootTreeItem();
  const TreeItem selected = view.GetSelectedTreeItem();
  if (selected == kNoTreeItem) return;
  std::string text = view.GetTreeItemText(selected);
  text.resize(std::min(text.size(), DriveSelection::kTextCapacity));
  selection.selectedDriveText = text;
  if (selected == root) {
    view.SetControlText(ControlId::Log, kNoDriveSelectedText);
    return;
  }

  // Position among the root's children, bounded by the number of items.
  const std::size_t limit = view.GetTreeItemCount();
  std::uint32_t position = 0;
  TreeItem child = view.GetChildTreeItem(root);
  while (child != selected && child != kNoTreeItem && position < limit) {
    child = view.GetNextSiblingTreeItem(child);
    ++position;
  }
  if (child == selected) selection.selectedDriveIndex = position;

  const std::string_view itemText = selection.selectedDriveText;
  std::string description(itemText.substr(0, std::min(itemText.size(), kDriveIdLength)));
  if (DetermineToolVariant(header) != ToolVariant::Vr) {
    description += kCurrentFirmware;
    if (itemText.size() > kDriveIdLength) description += itemText.substr(kDriveIdLength);
  }
  view.EnableControl(ControlId::Upgrade, true);
  view.SetControlText(ControlId::Log, description);
}

}  // namespace tslflash
