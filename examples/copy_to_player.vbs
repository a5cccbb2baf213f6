' Copies a PC file into folder MUSIC of the player's internal memory, lists the player's folders and
' copies the file back to the PC: the device API as a script reaches it.
'
'   scripts/wine-exec cscript //nologo examples\copy_to_player.vbs FILE FOLDER
'
' FILE is the PC file to copy, FOLDER the PC folder it comes back into (both as Windows paths, or
' relative ones). ZAVTCTRL.dll is registered and KWEP_SIMULATED_PLAYER names the player's pipe
' (\\.\pipe\NAME). Wine's cscript shows no runtime error, so every call that can fail is checked here
' and its error printed; the exit code is 0 when everything worked.
Option Explicit
On Error Resume Next

Dim fso, source, back, control, device, storage, folder, file, name

Sub Fail(what)
    WScript.Echo "FAILED: " & what & ": error &H" & Hex(Err.Number) & ", " & Err.Description
    WScript.Quit 1
End Sub

If WScript.Arguments.Count <> 2 Then
    WScript.Echo "usage: cscript //nologo copy_to_player.vbs FILE FOLDER"
    WScript.Quit 2
End If
Set fso = CreateObject("Scripting.FileSystemObject")
source = fso.GetAbsolutePathName(WScript.Arguments(0))
back = fso.GetAbsolutePathName(WScript.Arguments(1))
name = fso.GetFileName(source)

' The control stays referenced while its objects are used: releasing it ends every object's device
' context, and their calls then fail with error 769.
Set control = CreateObject("ZAVTCTRL.ZAVTControl")
If Err.Number <> 0 Then Fail "CreateObject (is ZAVTCTRL.dll registered?)"
Set device = control.Devices.Item(1)          ' the one player
If Err.Number <> 0 Then Fail "Devices (is the player served?)"
WScript.Echo device.Name & ", model " & device.Model & ", firmware " & device.FirmwareVersion

device.Download 0, source, "\MUSIC"           ' into folder MUSIC of internal memory (made when absent)
If Err.Number <> 0 Then Fail "Download of " & source

Set storage = device.Storages.Item(1)         ' internal memory
WScript.Echo storage.Name & ": " & storage.FreeSize & " of " & storage.TotalSize & " bytes free"
For Each folder In storage.RootFolder.SubFolders
    For Each file In folder.Files
        WScript.Echo "  " & file.Path & "  " & file.Size & " bytes"
    Next
Next
If Err.Number <> 0 Then Fail "listing the folders"

device.Upload 0, "\MUSIC\" & name, fso.BuildPath(back, name)
If Err.Number <> 0 Then Fail "Upload of \MUSIC\" & name
WScript.Echo "copied back: " & fso.BuildPath(back, name) & "  " & fso.GetFile(fso.BuildPath(back, name)).Size & " bytes"
