#include "editor/PresetSystemEditor.h"

#include <algorithm>
#include <cstring>

#include "editor/PresetPanelControls.h"
#include "platform/MessageBox.h"
#include "presets/CPresetSystemEffect.h"
#include "presets/PresetFile.h"
#include "presets/StoredDefaults.h"

using namespace VSTGUI;

namespace {

constexpr int kEntriesPerColumn = 10;

// Bitmaps of the panel: arrows, legends and the step switch.
constexpr std::int32_t kBitmapLoadArrow = 990;
constexpr std::int32_t kBitmapSaveArrow = 991;
constexpr std::int32_t kBitmapBankLegend = 992;
constexpr std::int32_t kBitmapPresetLegend = 993;
constexpr std::int32_t kBitmapStepSwitch = 995;
constexpr CCoord kArrowFrameHeight = 15;
constexpr CCoord kLegendFrameHeight = 13;
constexpr CCoord kSwitchFrameHeight = 13;

// A name of at most 24 characters, as the program table keeps it.
std::string cutName(const char* text) {
    if (text == nullptr) return std::string();
    return std::string(text, strnlen(text, tq::kProgramNameBytes));
}

}  // namespace

int programMenuIndex(int slot) { return slot == 0 ? 0 : slot + 1; }

CPresetSystemEditor::CPresetSystemEditor(CPresetSystemEffect* effect)
    : AEffGUIEditor(effect), presetEffect_(effect), messageOwner_(tq::openMessageOwner()) {}

CPresetSystemEditor::~CPresetSystemEditor() = default;

std::string CPresetSystemEditor::slotName(int slot) const {
    char name[tq::kProgramNameBytes + 1] = {};
    presetEffect_->getProgramNameIndexed(0, slot, name);
    return name;
}

bool CPresetSystemEditor::open(void* parentWindow) {
    if (frame == nullptr || presetEffect_ == nullptr) return false;
    (void)parentWindow;
    {
        std::lock_guard<std::mutex> lock(pendingNameMutex_);
        pendingName_.reset();
    }
    const SharedPointer<CBitmap> background(new CBitmap(128), false);
    const SharedPointer<CBitmap> loadArrow(new CBitmap(kBitmapLoadArrow), false);
    const SharedPointer<CBitmap> saveArrow(new CBitmap(kBitmapSaveArrow), false);
    const SharedPointer<CBitmap> bankLegend(new CBitmap(kBitmapBankLegend), false);
    const SharedPointer<CBitmap> presetLegend(new CBitmap(kBitmapPresetLegend), false);
    const SharedPointer<CBitmap> stepSwitch(new CBitmap(kBitmapStepSwitch), false);

    const int slot = presetEffect_->currentSlot();
    auto add = [this](CControl* control) {
        frame->addView(control);
        control->forget();  // the frame's reference keeps it until close
        panelControls_.push_back(control);
        return control;
    };

    nameField_ = new CPSTextEdit(CRect(194, 447, 318, 461), this, kTagProgramName,
                                 background.get());
    nameField_->setText(slotName(slot).c_str());
    add(nameField_);

    programMenu_ = new COptionMenu(CRect(320, 448, 333, 460), this, kTagProgramMenu, nullptr,
                                   nullptr, kCheckStyle);
    // The menu's face is the arrow painted in the background picture.
    programMenu_->setTransparency(true);
    programMenu_->setTextTransparency(true);
    programMenu_->setNbItemsPerColumn(kEntriesPerColumn);
    programMenu_->addEntry(slotName(0).c_str());
    programMenu_->addSeparator();
    for (int n = 1; n < tq::kProgramCount; ++n) programMenu_->addEntry(slotName(n).c_str());
    programMenu_->setCurrent(programMenuIndex(slot));
    programMenu_->checkEntryAlone(programMenuIndex(slot));
    add(programMenu_);

    stepSwitch_ = new CPSRockerSwitch(CRect(340, 447, 370, 460), this, kTagProgramStep,
                                      stepSwitch.get(), kSwitchFrameHeight);
    add(stepSwitch_);

    add(new CSaveLoadButton(CRect(72, 447, 89, 462), this, kTagLoadBank, loadArrow.get(),
                            kArrowFrameHeight));
    add(new CSaveLoadButton(CRect(22, 447, 39, 462), this, kTagSaveBank, saveArrow.get(),
                            kArrowFrameHeight));
    add(new CPSKickButton(CRect(39, 447, 71, 460), this, kTagDefaultBank, bankLegend.get(),
                          kLegendFrameHeight, true));
    add(new CSaveLoadButton(CRect(166, 447, 183, 462), this, kTagLoadPreset, loadArrow.get(),
                            kArrowFrameHeight));
    add(new CSaveLoadButton(CRect(104, 447, 121, 462), this, kTagSavePreset, saveArrow.get(),
                            kArrowFrameHeight));
    add(new CPSKickButton(CRect(122, 447, 166, 460), this, kTagDefaultPreset, presetLegend.get(),
                          kLegendFrameHeight, true));
    add(new CPSKickButton(CRect(421, 447, 438, 462), this, kTagRecallMemoryA, loadArrow.get(),
                          kArrowFrameHeight, false));
    add(new CPSKickButton(CRect(388, 447, 405, 462), this, kTagStoreMemoryA, saveArrow.get(),
                          kArrowFrameHeight, false));
    add(new CPSKickButton(CRect(486, 447, 503, 462), this, kTagRecallMemoryB, loadArrow.get(),
                          kArrowFrameHeight, false));
    add(new CPSKickButton(CRect(452, 447, 469, 462), this, kTagStoreMemoryB, saveArrow.get(),
                          kArrowFrameHeight, false));

    fileSelector_ = std::make_unique<CFileSelector>(frame);
    return true;
}

void CPresetSystemEditor::close() {
    // The frame (destroyed by the subclass right after) ends a dialog still open;
    // its completion is then never delivered.
    fileSelector_.reset();
    tq::closeErrorMessages(messageOwner_);
    nameField_ = nullptr;
    programMenu_ = nullptr;
    stepSwitch_ = nullptr;
    panelControls_.clear();
}

void CPresetSystemEditor::idle() {
    if (!isOnFrameThread()) {
        AEffGUIEditor::idle();
        return;
    }
    std::optional<std::string> name;
    {
        std::lock_guard<std::mutex> lock(pendingNameMutex_);
        name.swap(pendingName_);
    }
    if (name && nameField_ != nullptr) showName(name->c_str());
    AEffGUIEditor::idle();
}

void CPresetSystemEditor::programNameChanged(const char* name) {
    std::lock_guard<std::mutex> lock(pendingNameMutex_);
    pendingName_ = cutName(name);
}

void CPresetSystemEditor::loadStoredDefaults() { presetEffect_->loadStoredDefaults(); }

void CPresetSystemEditor::showName(const char* name) {
    if (nameField_ != nullptr) {
        nameField_->setText(name);
        nameField_->invalid();
    }
    if (programMenu_ != nullptr) {
        if (CMenuItem* current = programMenu_->getCurrentEntry()) current->setTitle(name);
        if (CMenuItem* first = programMenu_->getEntry(0)) first->setTitle(name);
        programMenu_->invalid();
    }
}

void CPresetSystemEditor::showSlot(int slot) {
    if (programMenu_ != nullptr) {
        const int index = programMenuIndex(slot);
        programMenu_->setCurrent(index);
        programMenu_->checkEntryAlone(index);
    }
    const std::string name = slotName(slot);
    if (nameField_ != nullptr) {
        nameField_->setText(name.c_str());
        nameField_->invalid();
    }
    if (programMenu_ != nullptr) {
        if (CMenuItem* first = programMenu_->getEntry(0)) first->setTitle(name.c_str());
        programMenu_->invalid();
    }
}

void CPresetSystemEditor::showAllNames() {
    if (programMenu_ == nullptr) return;
    for (int n = 0; n < tq::kProgramCount; ++n) {
        if (CMenuItem* item = programMenu_->getEntry(programMenuIndex(n))) {
            item->setTitle(slotName(n).c_str());
        }
    }
    showSlot(0);
}

void CPresetSystemEditor::reportStoreFailure(bool written, const char* what) {
    if (written) return;
    tq::showErrorMessage(std::string("Could not ") + what + "!", messageOwner_);
}

void CPresetSystemEditor::valueChanged(CControl* control) {
    if (control == nullptr || presetEffect_ == nullptr) return;
    const float v = control->getValue();
    tq::StoredDefaults& stored = presetEffect_->storedDefaults();
    switch (control->getTag()) {
        case kTagProgramName: {
            if (nameField_ == nullptr) break;
            const std::string name = cutName(nameField_->getText());
            showName(name.c_str());
            presetEffect_->setCurrentName(name.c_str());
            break;
        }
        case kTagProgramStep: {
            int slot = presetEffect_->currentSlot();
            if (v > 0.0f) {
                slot = std::min(slot + 1, tq::kProgramCount - 1);
            } else if (v < 0.0f) {
                slot = std::max(slot - 1, 0);
            } else {
                break;
            }
            showSlot(slot);
            const std::string name = slotName(slot);
            presetEffect_->selectSlot(slot);
            presetEffect_->setCurrentName(name.c_str());
            break;
        }
        case kTagLoadBank:
            runFileOperation(tq::RecordKind::bank, true, v == 0.5f);
            break;
        case kTagSaveBank:
            runFileOperation(tq::RecordKind::bank, false, false);
            break;
        case kTagLoadPreset:
            runFileOperation(tq::RecordKind::preset, true, v == 0.5f);
            break;
        case kTagSavePreset:
            runFileOperation(tq::RecordKind::preset, false, false);
            break;
        case kTagProgramMenu: {
            if (programMenu_ == nullptr) break;
            const int slot = std::clamp(programMenu_->getCurrentIndex(false), 0,
                                        tq::kProgramCount - 1);
            const CMenuItem* chosen = programMenu_->getCurrentEntry();
            const std::string title = chosen != nullptr ? cutName(chosen->getTitle()) : "";
            presetEffect_->selectSlot(slot);
            presetEffect_->setCurrentName(title.c_str());
            programMenu_->checkEntryAlone(programMenuIndex(slot));
            if (nameField_ != nullptr) {
                nameField_->setText(title.c_str());
                nameField_->invalid();
            }
            if (CMenuItem* first = programMenu_->getEntry(0)) first->setTitle(title.c_str());
            break;
        }
        case kTagDefaultBank:
            if (v < 0.75f) {
                reportStoreFailure(stored.clearDefaultBank(), "clear the default bank");
            } else {
                reportStoreFailure(stored.storeDefaultBank(), "store the default bank");
            }
            break;
        case kTagDefaultPreset:
            if (v < 0.75f) {
                reportStoreFailure(stored.clearDefaultPreset(), "clear the default preset");
            } else {
                reportStoreFailure(stored.storeDefaultPreset(), "store the default preset");
            }
            break;
        case kTagStoreMemoryA:
            reportStoreFailure(stored.storeMemory(tq::StoredDefaults::Memory::a),
                               "store memory A");
            break;
        case kTagStoreMemoryB:
            reportStoreFailure(stored.storeMemory(tq::StoredDefaults::Memory::b),
                               "store memory B");
            break;
        case kTagRecallMemoryA:
            if (stored.recallMemory(tq::StoredDefaults::Memory::a)) {
                showName(slotName(presetEffect_->currentSlot()).c_str());
            }
            break;
        case kTagRecallMemoryB:
            if (stored.recallMemory(tq::StoredDefaults::Memory::b)) {
                showName(slotName(presetEffect_->currentSlot()).c_str());
            }
            break;
        default:
            break;
    }
}

void CPresetSystemEditor::runFileOperation(tq::RecordKind kind, bool load, bool reversed) {
    if (fileSelector_ == nullptr) return;
    const bool preset = kind == tq::RecordKind::preset;
    const VstFileType type(preset ? tq::kPresetFileTypeName : tq::kBankFileTypeName,
                           preset ? tq::kPresetExtension : tq::kBankExtension);
    VstFileSelect select;
    select.command = load ? kVstFileLoad : kVstFileSave;
    const std::string title = tq::fileDialogTitle(kind, load, reversed);
    std::snprintf(select.title, sizeof select.title, "%s", title.c_str());
    select.fileTypes = &type;
    select.nbFileTypes = 1;
    const std::string directory = presetEffect_->storedDefaults().locations().directory;
    select.initialPath = directory.c_str();
    fileSelector_->runAsync(select, [this, kind, load, reversed](std::vector<std::string> paths) {
        if (paths.empty()) return;  // cancelled
        finishFileOperation(kind, load, reversed, paths.front());
    });
}

void CPresetSystemEditor::finishFileOperation(tq::RecordKind kind, bool load, bool reversed,
                                              const std::string& path) {
    tq::StoredDefaults& stored = presetEffect_->storedDefaults();
    if (kind == tq::RecordKind::preset) {
        if (!load) {
            stored.savePresetFile(path);
            return;
        }
        if (stored.loadPresetFile(path, reversed).outcome == tq::FileOutcome::loaded) {
            showName(slotName(presetEffect_->currentSlot()).c_str());
        }
        return;
    }
    if (!load) {
        stored.saveBankFile(path);
        return;
    }
    stored.loadBankFile(path, reversed);
    // A refused bank still re-applied slot 0; the menu follows either way.
    showAllNames();
}
