// Expected contents of the ZAVTCTRL type library: interfaces, their members in order, DISPIDs and
// help strings (spelling kept as shipped).
#pragma once
#include <oaidl.h>
struct Member {
    const wchar_t* name;
    INVOKEKIND kind;
    long dispid;
    const wchar_t* help;
};
const Member kZAVTControlMembers[] = {
    {L"Devices", INVOKE_PROPERTYGET, 1, L"Get Devices"},
    {L"DeleteFile", INVOKE_FUNC, 2, L"Deletes File"},
    {L"SpecialBuildNumber", INVOKE_PROPERTYGET, 3, L"property SpecialBuildNumber"},
    {L"SpecialBuildNumber", INVOKE_PROPERTYPUT, 3, L"property SpecialBuildNumber"},
    {L"GetSessionID", INVOKE_FUNC, 4, L"method GetSessionID"},
};
const Member kZAVTDeviceMembers[] = {
    {L"Name", INVOKE_PROPERTYGET, 1, L"Device Name property"},
    {L"Storages", INVOKE_PROPERTYGET, 2, L"All Storages of the device"},
    {L"DeviceID", INVOKE_PROPERTYGET, 3, L"DeviceID property"},
    {L"Download", INVOKE_FUNC, 4, L"Downloads file to Storage synchronously"},
    {L"Upload", INVOKE_FUNC, 5, L"Uploads file from Storage synchronously"},
    {L"ForceUpdate", INVOKE_FUNC, 6, L"Force Update Storage Information"},
    {L"DownloadFont", INVOKE_FUNC, 7, L"Download otpional font"},
    {L"DownloadFontAsync", INVOKE_FUNC, 8, L"Download otpional font (asyncronous)"},
    {L"EraseFont", INVOKE_FUNC, 9, L"Erase Optional Font"},
    {L"EraseFontAsync", INVOKE_FUNC, 10, L"Erase Optional Font (asyncronous)"},
    {L"CancelOperation", INVOKE_FUNC, 11, L"Cancel Current Operation"},
    {L"FirmwareUpgrade", INVOKE_FUNC, 12, L"Upgrade Firmware from ROM file"},
    {L"Model", INVOKE_PROPERTYGET, 13, L"Returns Model number"},
    {L"SupportFirmwareUpgrade", INVOKE_PROPERTYGET, 14, L"Says if device support firmware upgrade"},
    {L"FirmwareVersion", INVOKE_PROPERTYGET, 15, L"FirmwareVersion number currently connected"},
    {L"SupportFMRadio", INVOKE_PROPERTYGET, 16, L"Says if device support FM Radio"},
    {L"DownloadConfig", INVOKE_FUNC, 17, L"method DownloadConfig"},
    {L"UploadConfig", INVOKE_FUNC, 18, L"method UploadConfig"},
    {L"FontPresent", INVOKE_PROPERTYGET, 19, L"property FontPresent"},
    {L"DownloadMemo", INVOKE_FUNC, 20, L"method DownloadMemo"},
    {L"UploadMemo", INVOKE_FUNC, 21, L"method UploadMemo"},
    {L"SectorsPerClusterInternal", INVOKE_PROPERTYGET, 22, L"property SectorsPerClusterInternal"},
    {L"DeviceUniqueID", INVOKE_PROPERTYGET, 23, L"property DeviceUniqueID"},
    {L"DeviceUniqueID", INVOKE_PROPERTYPUT, 23, L"property DeviceUniqueID"},
    {L"GetPersonalID", INVOKE_FUNC, 24, L"method GetPersonalID"},
    {L"PutPersonalID", INVOKE_FUNC, 25, L"method PutPersonalID"},
    {L"FirmwareDate", INVOKE_PROPERTYGET, 26, L"property FirmwareDate"},
    {L"DownloadImage", INVOKE_FUNC, 27, L"method DownloadImage"},
    {L"UploadImage", INVOKE_FUNC, 28, L"method UploadImage"},
    {L"SupportImages", INVOKE_PROPERTYGET, 29, L"property SupportImages"},
    {L"DiagnosticInfo", INVOKE_PROPERTYGET, 30, L"property DiagnosticInfo"},
    {L"PutMarkID", INVOKE_FUNC, 31, L"method PutMarkID"},
    {L"GetMarkID", INVOKE_FUNC, 32, L"method GetMarkID"},
    {L"PutSN", INVOKE_FUNC, 33, L"method PutSN"},
    {L"GetSN", INVOKE_FUNC, 34, L"method GetSN"},
};
const Member kZAVTStorageMembers[] = {
    {L"Name", INVOKE_PROPERTYGET, 1, L"Storage Name property"},
    {L"ParentDeviceID", INVOKE_PROPERTYGET, 2, L"ID of Parent Device"},
    {L"Type", INVOKE_PROPERTYGET, 3, L"Storage ID (Type)"},
    {L"TotalSize", INVOKE_PROPERTYGET, 4, L"Total Size of Storage"},
    {L"FreeSize", INVOKE_PROPERTYGET, 5, L"Free area Size"},
    {L"RootFolder", INVOKE_PROPERTYGET, 6, L"Root Folder for Storage"},
    {L"Download", INVOKE_FUNC, 7, L"Downloads file"},
    {L"Format", INVOKE_FUNC, 8, L"Format Storage"},
    {L"Initialize", INVOKE_FUNC, 9, L"Initialize Storage"},
    {L"FormatAsync", INVOKE_FUNC, 10, L"Format Storage (asyncronous)"},
    {L"CancelOperation", INVOKE_FUNC, 11, L"Cancel Current Operation"},
    {L"Unformatted", INVOKE_PROPERTYGET, 12, L"property Unformatted"},
    {L"ReadOnly", INVOKE_PROPERTYGET, 13, L"property ReadOnly"},
};
const Member kZAVTFolderMembers[] = {
    {L"Name", INVOKE_PROPERTYGET, 1, L"Folder Name property"},
    {L"Name", INVOKE_PROPERTYPUT, 1, L"Folder Name property"},
    {L"Path", INVOKE_PROPERTYGET, 2, L"Full Path to Folder"},
    {L"Storage", INVOKE_PROPERTYGET, 3, L"Storage for Folder"},
    {L"ParentFolder", INVOKE_PROPERTYGET, 4, L"Parent Folder for Folder"},
    {L"IsRootFolder", INVOKE_PROPERTYGET, 5, L"True if folder is root"},
    {L"SubFolders", INVOKE_PROPERTYGET, 6, L"Get folders collection"},
    {L"Files", INVOKE_PROPERTYGET, 7, L"Get files collection"},
    {L"Size", INVOKE_PROPERTYGET, 8, L"Sum of files and folders"},
    {L"Attributes", INVOKE_PROPERTYGET, 9, L"Attributes for Folder"},
    {L"Attributes", INVOKE_PROPERTYPUT, 9, L"Attributes for Folder"},
    {L"DateLastModified", INVOKE_PROPERTYGET, 10, L"Date of Last modification of the Folder"},
    {L"DateCreated", INVOKE_PROPERTYGET, 11, L"Date of Creation of the Folder"},
    {L"SupportsFolders", INVOKE_PROPERTYGET, 12, L"Supports Folders in this Folder"},
    {L"Delete", INVOKE_FUNC, 13, L"Delete this folder"},
    {L"PlayIndex", INVOKE_PROPERTYGET, 14, L"Specifies Play Index"},
    {L"PlayIndex", INVOKE_PROPERTYPUT, 14, L"Specifies Play Index"},
    {L"CreateSubfolder", INVOKE_FUNC, 15, L"Creates Subfolder in current Folder"},
    {L"Download", INVOKE_FUNC, 16, L"Download"},
    {L"FileSystemID", INVOKE_PROPERTYGET, 17, L"Unique ID in  File System"},
    {L"MoveFolderInside", INVOKE_FUNC, 18, L"Move Folder Inside of current"},
    {L"MoveFileInside", INVOKE_FUNC, 19, L"Move File Inside of current"},
    {L"CreateNewFile", INVOKE_FUNC, 20, L"method CreateNewFile"},
};
const Member kZAVTFileMembers[] = {
    {L"Name", INVOKE_PROPERTYGET, 1, L"File Name property"},
    {L"Name", INVOKE_PROPERTYPUT, 1, L"File Name property"},
    {L"Path", INVOKE_PROPERTYGET, 2, L"Full Path to File"},
    {L"Storage", INVOKE_PROPERTYGET, 3, L"Storage of the file"},
    {L"ParentFolder", INVOKE_PROPERTYGET, 4, L"Parent Folder of the file"},
    {L"Attributes", INVOKE_PROPERTYGET, 5, L"Attributes of the File"},
    {L"Attributes", INVOKE_PROPERTYPUT, 5, L"Attributes of the File"},
    {L"DateLastModified", INVOKE_PROPERTYGET, 6, L"Date of Last Modification of the file"},
    {L"Size", INVOKE_PROPERTYGET, 7, L"Size of the file"},
    {L"Delete", INVOKE_FUNC, 8, L"Deletes File"},
    {L"DateCreated", INVOKE_PROPERTYGET, 9, L"Date of Creation of the File"},
    {L"Upload", INVOKE_FUNC, 10, L"Uploads the file to dstPath"},
    {L"PlayIndex", INVOKE_PROPERTYGET, 11, L"Specifies Play Index"},
    {L"PlayIndex", INVOKE_PROPERTYPUT, 11, L"Specifies Play Index"},
    {L"Channels", INVOKE_PROPERTYGET, 12, L"Number of Audio Channels"},
    {L"SampleRate", INVOKE_PROPERTYGET, 13, L"Audio File Sampling Rate"},
    {L"Bitrate", INVOKE_PROPERTYGET, 14, L"Audio File Bit Rate"},
    {L"UploadTo", INVOKE_FUNC, 15, L"Upload file with renaming"},
    {L"FileSystemID", INVOKE_PROPERTYGET, 16, L"Uinque ID in  File System"},
    {L"OpenFile", INVOKE_FUNC, 17, L"method OpenFile"},
    {L"CloseFile", INVOKE_FUNC, 18, L"method CloseFile"},
    {L"Write", INVOKE_FUNC, 19, L"method Write"},
    {L"Read", INVOKE_FUNC, 20, L"method Read"},
};
const Member kCollectionMembers[] = {
    {L"Count", INVOKE_PROPERTYGET, 0x60020000, L""},
    {L"Item", INVOKE_PROPERTYGET, 0, L"property Item (1-based)"},
    {L"_NewEnum", INVOKE_PROPERTYGET, -4, L""},
};
const Member kControlEventsMembers[] = {
    {L"DeleteFileStart", INVOKE_FUNC, 1, L"Event fired if Deleting Starts"},
    {L"DeleteFileEnd", INVOKE_FUNC, 2, L"Event fired if Deleting End"},
    {L"DeleteFilePercent", INVOKE_FUNC, 3, L"Event shows percent of Deleting"},
    {L"FormatStorageStart", INVOKE_FUNC, 4, L"Event fired if Format Starts"},
    {L"FormatStorageEnd", INVOKE_FUNC, 5, L"Event fired if Format End"},
    {L"FormatStoragePercent", INVOKE_FUNC, 6, L"Event shows percent of Formatting"},
    {L"UploadFileStart", INVOKE_FUNC, 7, L"Event fired if Upload Starts"},
    {L"UploadFileEnd", INVOKE_FUNC, 8, L"Event fired if Upload End"},
    {L"UploadFilePercent", INVOKE_FUNC, 9, L"Event shows percent of Uploading"},
    {L"DownloadFileStart", INVOKE_FUNC, 10, L"Event fired if Download Starts"},
    {L"DownloadFileEnd", INVOKE_FUNC, 11, L"Event fired if Download End"},
    {L"DownloadFilePercent", INVOKE_FUNC, 12, L"Event shows percent of Downloading"},
    {L"InitializationStart", INVOKE_FUNC, 13, L"method InitializationStart"},
    {L"InitializationEnd", INVOKE_FUNC, 14, L"method InitializationEnd"},
    {L"HError", INVOKE_FUNC, 15, L"method HError"},
};
struct InterfaceRow {
    const wchar_t* name;
    const wchar_t* iid;
    const wchar_t* help;
    const Member* members;
    size_t count;
};
#define KWEP_MEMBERS(a) a, sizeof(a) / sizeof(a[0])
const InterfaceRow kInterfaces[] = {
    {L"IZAVTControl", L"{6402902D-FA80-43EA-8A8E-96B43C4B8A9D}", L"IZAVTControl Interface",
     KWEP_MEMBERS(kZAVTControlMembers)},
    {L"IZAVTDevice", L"{3C1A0ED5-94B2-41C8-8E37-A30A3A5F6C8F}", L"IZAVTDevice Interface",
     KWEP_MEMBERS(kZAVTDeviceMembers)},
    {L"IZAVTStorage", L"{7FF0A158-7C7B-4FFF-B052-67F8B81863F4}", L"IZAVTStorage Interface",
     KWEP_MEMBERS(kZAVTStorageMembers)},
    {L"IZAVTFolder", L"{F7621C75-09FE-4D74-854A-3BA3002769A6}", L"IZAVTFolder Interface",
     KWEP_MEMBERS(kZAVTFolderMembers)},
    {L"IZAVTFile", L"{40030A09-F436-40E5-A8FD-A9B162496305}", L"IZAVTFile Interface", KWEP_MEMBERS(kZAVTFileMembers)},
    {L"IZAVTDeviceCollection", L"{99280943-C1B2-4EC9-AB04-411C08DD4CD4}", L"IZAVTDeviceCollection Interface",
     KWEP_MEMBERS(kCollectionMembers)},
    {L"IZAVTStorageCollection", L"{72133008-330A-487B-B346-4C2D7F4F9DA1}", L"IZAVTStorageCollection Interface",
     KWEP_MEMBERS(kCollectionMembers)},
    {L"IZAVTFolderCollection", L"{CAAE8F8A-C60B-4A92-9A3E-548814C3F54C}", L"IZAVTFolderCollection Interface",
     KWEP_MEMBERS(kCollectionMembers)},
    {L"IZAVTFileCollection", L"{C1F70349-EE18-408C-AB61-DA03B8441AFE}", L"IZAVTFileCollection Interface",
     KWEP_MEMBERS(kCollectionMembers)},
};
struct CoclassRow {
    const wchar_t* name;
    const wchar_t* clsid;
    bool creatable;
    const wchar_t* progId;
    const wchar_t* help;
};
const CoclassRow kCoclasses[] = {
    {L"ZAVTControl", L"{995FDB19-0DB5-4590-9F5E-AC34C9243E58}", true, L"ZAVTCTRL.ZAVTControl.1",
     L"Orvande Player Control"},
    {L"ZAVTDevice", L"{26F8C687-74DB-44E1-94CC-DFC8C96E5201}", true, L"ZAVTCTRL.ZAVTDevice.1", L"ZAVTDevice Class"},
    {L"ZAVTDeviceCollection", L"{676DA5AA-8A46-4497-B0C6-A0CAE9FF133F}", false, nullptr, L"ZAVTDeviceCollection Class"},
    {L"ZAVTFile", L"{ADCE2391-7EF1-4098-820B-ECDD3F880FF0}", true, L"ZAVTCTRL.ZAVTFile.1", L"ZAVTFile Class"},
    {L"ZAVTFileCollection", L"{319A0171-F957-4336-B85D-B99C8C70027E}", false, nullptr, L"ZAVTFileCollection Class"},
    {L"ZAVTFolder", L"{A383EDE3-7103-4E4B-9579-45F1E2E494A2}", true, L"ZAVTCTRL.ZAVTFolder.1", L"ZAVTFolder Class"},
    {L"ZAVTFolderCollection", L"{FAFD21F6-B1C6-471A-997F-ECA00E52B485}", false, nullptr, L"ZAVTFolderCollection Class"},
    {L"ZAVTStorage", L"{D7A2B323-9A5B-4C56-B63D-DD96DDA9B549}", true, L"ZAVTCTRL.ZAVTStorage.1", L"ZAVTStorage Class"},
    {L"ZAVTStorageCollection", L"{5E93031E-0D1B-49B9-AC8A-C97FF03848A3}", false, nullptr,
     L"ZAVTStorageCollection Class"},
};
struct EnumValue {
    const wchar_t* name;
    long value;
};
const EnumValue kZAVTStorageType[] = {{L"ZAVTST_INT", 0}, {L"ZAVTST_EXT", 1}, {L"ZAVTST_VOID", -1}};
const EnumValue kZAVTFileAttribute[] = {{L"Normal", 0},   {L"ReadOnly", 1}, {L"Hidden", 2},
                                        {L"System", 4},   {L"Volume", 8},   {L"Directory", 16},
                                        {L"Archive", 32}, {L"Alias", 1024}, {L"Compressed", 2048}};
const EnumValue kZAVTFontType[] = {{L"FontUserDefined", -1}, {L"FontUNIKWEP", 0}};
const EnumValue kZAVTDeviceModelType[] = {
    {L"Model_Unknown", 0}, {L"Model_KWEP_1", 1}, {L"Model_KWEP_2", 2}, {L"Model_KWEP_3", 3}, {L"Model_KWEP_4", 4},
    {L"Model_KWEP_5", 5},  {L"Model_KWEP_6", 6}, {L"Model_KWEP07", 7}, {L"Model_KWEP08", 8}, {L"Model_TN510", 9},
    {L"Model_TN520", 10},  {L"Model_TN530", 11}, {L"Model_TN540", 12}, {L"Model_TN550", 13}, {L"Model_BRIX", 14},
    {L"Model_SQ21", 15},   {L"Model_SQ22", 16}};
const EnumValue kZAVTErrorContext[] = {{L"ECUnknown", 0},   {L"ECFormat", 1},       {L"ECDownloadFont", 2},
                                       {L"ECEraseFont", 3}, {L"ECDownloadFile", 4}, {L"ECUploadFile", 5},
                                       {L"ECEraseFile", 6}, {L"ECFirmware", 7}};
const EnumValue kZAVTFileMode[] = {{L"fmNormal", 0}, {L"fmRead", 1}, {L"fmWrite", 2}, {L"fmAppend", 4}};
struct EnumRow {
    const wchar_t* name;
    const EnumValue* values;
    size_t count;
};
const EnumRow kEnums[] = {
    {L"ZAVTStorageType", KWEP_MEMBERS(kZAVTStorageType)},
    {L"ZAVTFileAttribute", KWEP_MEMBERS(kZAVTFileAttribute)},
    {L"ZAVTFontType", KWEP_MEMBERS(kZAVTFontType)},
    {L"ZAVTDeviceModelType", KWEP_MEMBERS(kZAVTDeviceModelType)},
    {L"ZAVTErrorContext", KWEP_MEMBERS(kZAVTErrorContext)},
    {L"ZAVTFileMode", KWEP_MEMBERS(kZAVTFileMode)},
};
