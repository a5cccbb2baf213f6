// The folder object of ZAVTCTRL.
#pragma once

#include "device/api/zavt_common.h"
#include "device/fs/dir_record.h"

#include <cstdint>
#include <memory>

class DeviceContext;

class CZAVTFolder : public CComObjectRootEx,
                    public CComCoClass<CZAVTFolder, &CLSID_ZAVTFolder>,
                    public ZavtDispatchImpl<CZAVTFolder, IZAVTFolder>,
                    public ISupportErrorInfoImpl<IZAVTFolder> {
public:
    DECLARE_REGISTRY_RESOURCEID(IDR_ZAVTFOLDER)
    BEGIN_COM_MAP(CZAVTFolder)
    COM_INTERFACE_ENTRY(IZAVTFolder)
    COM_INTERFACE_ENTRY2(IDispatch, IZAVTFolder)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    END_COM_MAP()

    STDMETHOD(get_Name)(BSTR* pVal) override;
    STDMETHOD(put_Name)(BSTR newVal) override;
    STDMETHOD(get_Path)(BSTR* pVal) override;
    STDMETHOD(get_Storage)(IZAVTStorage** pVal) override;
    STDMETHOD(get_ParentFolder)(IZAVTFolder** pVal) override;
    STDMETHOD(get_IsRootFolder)(long* pVal) override;
    STDMETHOD(get_SubFolders)(IZAVTFolderCollection** pVal) override;
    STDMETHOD(get_Files)(IZAVTFileCollection** pVal) override;
    STDMETHOD(get_Size)(long* pVal) override;
    STDMETHOD(get_Attributes)(ZAVTFileAttribute* pVal) override;
    STDMETHOD(put_Attributes)(ZAVTFileAttribute newVal) override;
    STDMETHOD(get_DateLastModified)(DATE* pVal) override;
    STDMETHOD(get_DateCreated)(DATE* pVal) override;
    STDMETHOD(get_SupportsFolders)(long* pVal) override;
    STDMETHOD(Delete)() override;
    STDMETHOD(get_PlayIndex)(long* pVal) override;
    STDMETHOD(put_PlayIndex)(long newVal) override;
    STDMETHOD(CreateSubfolder)(BSTR SubfolderName) override;
    STDMETHOD(Download)(BSTR srcPath) override;
    STDMETHOD(get_FileSystemID)(long* pVal) override;
    STDMETHOD(MoveFolderInside)(IZAVTFolder* pVal) override;
    STDMETHOD(MoveFileInside)(IZAVTFile* pVal) override;
    STDMETHOD(CreateNewFile)(BSTR FileName, IZAVTFile** pNewFile) override;

    // Binds the object to one folder: its name and path, whether it is a storage's root, its directory
    // record, its storage and device, and the folder it was listed in (none for a root).
    HRESULT Init(const wchar_t* name, const wchar_t* path, long root, const engine::DirRecord& record,
                 ZAVTStorageType type, long deviceIndex, IZAVTFolder* parent);

private:
    std::uint32_t Storage() const { return type_ == ZAVTST_EXT ? 1 : 0; }
    std::uint32_t FolderId() const { return root_ ? 0 : record_.firstCluster; }
    // The folder this one was listed in; none for a root.
    IZAVTFolder* Parent() const { return root_ ? nullptr : static_cast<IZAVTFolder*>(parent_); }
    // Both moves: the moved entry's id, and its folder's id and root flag, after the checks.
    HRESULT MoveInside(IDispatch* moved, IZAVTFolder* sourceParent, IZAVTStorage* sourceStorage, const wchar_t* name,
                       std::uint32_t movedId, bool isFolder);
    // Whether this folder is folder `id` or lies below it.
    HRESULT IsAtOrBelow(std::uint32_t id, bool* below);
    // A new collection of the folder's subfolders (`folders`) or files; a store without folders has no
    // subfolders to list.
    template <class Collection, class CollItf, class Child, class ChildItf>
    HRESULT Listing(bool folders, CollItf** out, const IID& collectionIid, const IID& childIid);

    CComBSTR name_;
    CComBSTR path_;
    long root_ = 0;
    engine::DirRecord record_{};
    ZAVTStorageType type_ = ZAVTST_VOID;
    long deviceIndex_ = -1;
    CComPtr<IZAVTFolder> parent_;
};
