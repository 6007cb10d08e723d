// The main dialog's shapes under Wine, measured in pixels through the window placements:
// the compact form the option bits make at start, and the expansion that shows the list.
// Every move is a whole number of layout units, converted with the system's dialog base
// units; the template's own places are taken from a dialog that the options leave as it is.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "archive_maker.h"
#include "dialog_support.h"

namespace e2e {
namespace {

// The controls a shape moves (or must leave), with the dialog itself under id 0.
constexpr int kDialogKey = 0;
const int kCompactShiftSet[] = {kShowFilesId, kRunCheckboxId, kHelpId,
                                kUnzipId,     kCloseId,       kBottomSeparatorId};
const int kMeasured[] = {kShowFilesId, kRunCheckboxId,     kHelpId,       kUnzipId,
                         kCloseId,     kBottomSeparatorId, kFolderEditId, kOverwriteGroupId,
                         kOverwriteId, kFilesLabelId,      kFileListId};

using Placements = std::map<int, RECT>;

Placements Measure(HWND dialog) {
  Placements placements;
  placements[kDialogKey] = Placement(dialog);
  for (const int id : kMeasured) {
    if (HWND control = Control(dialog, id)) placements[id] = Placement(control);
  }
  return placements;
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
         std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

// `moved` is `base` shifted down by `pixels`, with the same size and horizontal place.
void ExpectMoved(const RECT& base, const RECT& moved, int pixels, const std::string& what) {
  EXPECT_EQ(base.top + pixels, moved.top)
      << what << ": " << Describe(base) << " -> " << Describe(moved);
  EXPECT_EQ(base.bottom + pixels, moved.bottom) << what;
  EXPECT_EQ(base.left, moved.left) << what;
  EXPECT_EQ(base.right, moved.right) << what;
}

// The dialog keeps its top edge and width; only its bottom edge moves.
void ExpectResized(const RECT& base, const RECT& resized, int pixels) {
  EXPECT_EQ(base.top, resized.top) << "the dialog's top edge moved";
  EXPECT_EQ(base.left, resized.left);
  EXPECT_EQ(base.right, resized.right);
  EXPECT_EQ(base.bottom + pixels, resized.bottom)
      << "dialog " << Describe(base) << " -> " << Describe(resized);
}

class DialogLayout : public StubTest {
 protected:
  // Starts an archive with `options` (and a command when `command` is set), measures its
  // dialog, optionally after "Show files", and closes it.
  Placements Shape(std::uint16_t options, bool command, bool expand, const std::string& name,
                   bool* focus_on_list = nullptr) {
    BlockSettings settings;
    settings.options = options;
    if (command) settings.command = "readme.txt";
    Process stub = Run(Combine(StubBytes(), settings, MakeStoredZip({{"readme.txt", "x"}}).bytes),
                       name);
    HWND dialog = WaitForMainDialog(stub);
    EXPECT_NE(nullptr, dialog) << DescribeWindows(stub.id());
    if (dialog == nullptr) return {};
    if (expand) {
      ClickButton(Control(dialog, kShowFilesId));
      EXPECT_TRUE(
          WaitUntil([&] { return Control(dialog, kShowFilesId) == nullptr; }, kWindowTimeoutMs))
          << "\"Show files\" is still there";
      WaitUntilResponding(dialog);
      EXPECT_TRUE(IsWindowVisible(Control(dialog, kFileListId)));
      EXPECT_TRUE(IsWindowVisible(Control(dialog, kFilesLabelId)));
      if (focus_on_list != nullptr) {
        *focus_on_list = FocusedWindow(dialog) == Control(dialog, kFileListId);
      }
    }
    const Placements placements = Measure(dialog);
    ExpectCloseEndsWithZero(stub, dialog);
    return placements;
  }

  // The template's shape: the run checkbox and a command give no shrink, and the list
  // starts hidden.
  Placements Template() {
    return Shape(kOptRunCheckbox | kOptListCollapsed, true, false, "template");
  }
};

TEST_F(DialogLayout, LayoutUnitFollowsTheSystemBaseUnits) {
  // The checks below assume moves of several pixels per unit, as any normal font gives.
  EXPECT_GE(HIWORD(GetDialogBaseUnits()), 8);
  RecordProperty("pixels_per_18_units", LayoutPixels(18));
}

struct CompactCase {
  const char* name;
  std::uint16_t options;
  bool command;
  int shrink;  // layout units
  bool has_checkbox;
  bool has_overwrite_group;
};
std::ostream& operator<<(std::ostream& out, const CompactCase& c) { return out << c.name; }

class CompactForm : public DialogLayout, public testing::WithParamInterface<CompactCase> {};

// The shrink moves the lower controls up and the dialog's bottom edge with them; the
// folder row, the overwrite group and the (hidden) list keep their places.
TEST_P(CompactForm, ShrinksByTheUnitsTheOptionsGive) {
  const CompactCase& c = GetParam();
  const Placements base = Template();
  ASSERT_FALSE(base.empty());
  const Placements shape = Shape(c.options | kOptListCollapsed, c.command, false, c.name);
  ASSERT_FALSE(shape.empty());
  const int pixels = -LayoutPixels(c.shrink);

  ExpectResized(base.at(kDialogKey), shape.at(kDialogKey), pixels);
  for (const int id : kCompactShiftSet) {
    if (id == kRunCheckboxId && !c.has_checkbox) continue;
    if (id == kShowFilesId && (c.options & kOptNoShowFiles)) {
      EXPECT_EQ(0u, shape.count(id)) << "\"Show files\" must be removed";
      continue;
    }
    ASSERT_EQ(1u, shape.count(id)) << "control " << id << " is missing";
    ExpectMoved(base.at(id), shape.at(id), pixels, "control " + std::to_string(id));
  }
  EXPECT_EQ(c.has_checkbox, shape.count(kRunCheckboxId) == 1);
  EXPECT_EQ(c.has_overwrite_group, shape.count(kOverwriteGroupId) == 1);
  EXPECT_EQ(c.has_overwrite_group, shape.count(kOverwriteId) == 1);
  for (const int id : {kFolderEditId, kFileListId, kFilesLabelId}) {
    ExpectMoved(base.at(id), shape.at(id), 0, "control " + std::to_string(id));
  }
  if (c.has_overwrite_group) {
    ExpectMoved(base.at(kOverwriteGroupId), shape.at(kOverwriteGroupId), 0, "group 602");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, CompactForm,
    testing::Values(
        // OptRunCheckbox and OptHideOverwriteChoice (and the rest of 0x02C5).
        CompactCase{"CheckboxAndHiddenChoice", 0x02C5, true, 18, true, false},
        CompactCase{"HiddenChoiceOnly", kOptHideOverwriteChoice, true, 33, false, false},
        CompactCase{"Neither", 0, true, 10, false, true},
        CompactCase{"NeitherWithoutCommand", 0, false, 10, false, true},
        // The checkbox goes for want of a command, but the layout keeps its room.
        CompactCase{"CheckboxWithoutCommand", kOptRunCheckbox, false, 0, false, true}),
    [](const testing::TestParamInfo<CompactCase>& info) { return info.param.name; });

// "Show files" grows the dialog by 66 units and moves everything below the list down by
// as much, after whatever shrink the options made; the focus goes to the list.
TEST_F(DialogLayout, ExpansionGrowsBy66UnitsAfterTheShrink) {
  const Placements base = Template();
  ASSERT_FALSE(base.empty());
  struct Case {
    const char* name;
    std::uint16_t options;
    int shrink;
  };
  for (const Case& c :
       {Case{"from_template", kOptRunCheckbox | kOptListCollapsed, 0},
        Case{"after_shrink_18", kOptRunCheckbox | kOptHideOverwriteChoice | kOptListCollapsed, 18},
        Case{"after_shrink_10", kOptListCollapsed, 10}}) {
    SCOPED_TRACE(c.name);
    bool focus_on_list = false;
    const Placements shape = Shape(c.options, true, true, c.name, &focus_on_list);
    ASSERT_FALSE(shape.empty());
    EXPECT_TRUE(focus_on_list) << "the focus is not on the list";
    const int pixels = LayoutPixels(66) - LayoutPixels(c.shrink);
    ExpectResized(base.at(kDialogKey), shape.at(kDialogKey), pixels);
    for (const int id : {kHelpId, kUnzipId, kCloseId, kBottomSeparatorId}) {
      ExpectMoved(base.at(id), shape.at(id), pixels, "control " + std::to_string(id));
    }
    if (shape.count(kRunCheckboxId)) {
      ExpectMoved(base.at(kRunCheckboxId), shape.at(kRunCheckboxId), pixels, "checkbox 302");
    }
    // The overwrite group is not part of the shrink, only of the expansion.
    if (shape.count(kOverwriteGroupId)) {
      ExpectMoved(base.at(kOverwriteGroupId), shape.at(kOverwriteGroupId), LayoutPixels(66),
                  "group 602");
      ExpectMoved(base.at(kOverwriteId), shape.at(kOverwriteId), LayoutPixels(66), "radio 701");
    }
    for (const int id : {kFileListId, kFilesLabelId, kFolderEditId}) {
      ExpectMoved(base.at(id), shape.at(id), 0, "control " + std::to_string(id));
    }
  }
}

}  // namespace
}  // namespace e2e
