// The toolkit in one include.
#pragma once

#include "gui/AEffGUIEditor.h"
#include "gui/CBaseObject.h"
#include "gui/CBitmap.h"
#include "gui/CControl.h"
#include "gui/CDrawContext.h"
#include "gui/CFileSelector.h"
#include "gui/CFrame.h"
#include "gui/COptionMenu.h"
#include "gui/CTextEdit.h"
#include "gui/CView.h"
#include "gui/GuiTypes.h"
#include "gui/HeadlessRender.h"
#include "gui/VSTGUIEditorInterface.h"
