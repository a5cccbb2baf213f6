// The row colours of a pane (file list or folder tree) in its three states, and the reading of its skin
// section: "pos", "frgnd" and "bkgnd" (three colours each: not selected, selected while the pane has no
// focus, selected while it has the focus). A state the skin leaves unset takes the system's colour.
#pragma once

#include "manager/controls/cx_skin_ctrl.h"

class CPaneColours {
public:
    enum { kStateCount = 3 };

    CPaneColours();

    CxSkinColor Text(int state) const { return m_text[state]; }
    CxSkinColor Back(int state) const { return m_back[state]; }

    // A cell's background in the state's colour.
    void FillBack(HDC dc, const RECT& where, int state) const;
    // A cell's text in the state's colour over what is drawn (DrawText format flags).
    void DrawLabel(HDC dc, RECT where, const wchar_t* text, int state, UINT format) const;

    // Registers the section's "pos", "frgnd" and "bkgnd" for the pane (nothing without a section), then
    // the pane's base keys.
    static HRESULT GetSkinProps(CxSkinCtrl& pane, CxSkinPropEntries& list);
    // Reads the pane's section from the skin file: the colours (the state-0 background sent to the
    // control with `setBackColour`, LVM_SETBKCOLOR or TVM_SETBKCOLOR) and the place, when the skin gives
    // one. S_FALSE without a section.
    HRESULT ApplySection(CxSkinCtrl& pane, const wchar_t* skinFile, UINT setBackColour);

private:
    void SetSystemColours();

    CxSkinColor m_text[kStateCount];
    CxSkinColor m_back[kStateCount];
};
