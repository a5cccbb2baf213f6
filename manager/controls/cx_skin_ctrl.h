// The skin bundle of a skinned child control: its position from the "pos" key of its skin section, the
// keys it registers, the answer to its parent's skin file, and its share of the parent's region.
#pragma once

#include "manager/framework/skin/cx_components.h"
#include "manager/framework/skin/cx_skin_props.h"

class CxSkinCtrl : public virtual CxSkinPos, public virtual CxSkinProps, public virtual CxChildRegion {
public:
    // Registers the control's keys once (low flag 0x20000). S_FALSE when that was done before.
    virtual HRESULT LoadSkinOnce();
    // Forgets the positions, reads the section from the skin file into the position list, zeroes the
    // offsets and, when the read did not fail, applies the position. S_FALSE without a section.
    virtual HRESULT ApplySection(const wchar_t* skinFile);
    // The section the parent names for the control (CXM_GETSKINSECTION with the id + 2); null for none.
    // The parent keeps the text.
    virtual const wchar_t* GetSectionName();
    // The section of a child of this control, for controls that hold others; null here.
    virtual const wchar_t* SectionFromCtrlId(WPARAM id);

    // Registers "pos" of the control's section first, then builds.
    HRESULT GetSkinProps(CxSkinPropEntries& list) override;

    // Map ids 0 (the link's entries first), -1, and -2 (without the region and offset entries).
    BOOL ProcessWindowMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult, DWORD mapId);

protected:
    CxSkinCtrl() = default;
    ~CxSkinCtrl() override = default;

private:
    BOOL SkinFileMap(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
};
