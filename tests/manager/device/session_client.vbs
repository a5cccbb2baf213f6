' A script client of the device API on the player the environment names (KWEP_SIMULATED_PLAYER): what it
' reads through the type library is compared with the device session's record and listings by
' device_session_outside_test.cpp. Usage: cscript //nologo session_client.vbs
' Output lines (fields split by "|"):
'   identity|NAME|MODEL|FIRMWARE VERSION|FIRMWARE DATE
'   storages|COUNT
'   storage|INDEX|TYPE|TOTAL|FREE|READONLY|UNFORMATTED        (INDEX 1 internal memory, 2 the card)
'   entry|INDEX|folder|NAME|PATH|SIZE|HAS SUBFOLDERS           (the root's folders, then its files)
'   entry|INDEX|file|NAME|PATH|SIZE|0
'   FAIL WHAT (error N: description) for a call that failed; done at the end.
Option Explicit
On Error Resume Next

Sub Failed(what)
    WScript.Echo "FAIL " & what & " (error " & Hex(Err.Number) & ": " & Err.Description & ")"
    Err.Clear
End Sub

Dim control, device, storages, storage, root, item, i, n, line
Set control = CreateObject("ZAVTCTRL.ZAVTControl")
If Err.Number <> 0 Then Failed "CreateObject": WScript.Quit 1
Set device = control.Devices.Item(1)
If Err.Number <> 0 Then Failed "Devices.Item(1)": WScript.Quit 1

line = "identity|" & device.Name & "|" & CLng(device.Model) & "|" & device.FirmwareVersion & "|" & device.FirmwareDate
If Err.Number <> 0 Then Failed "identity" Else WScript.Echo line

Set storages = device.Storages
n = storages.Count
If Err.Number <> 0 Then Failed "Storages.Count": WScript.Quit 1
WScript.Echo "storages|" & n

For i = 1 To n
    Set storage = storages.Item(i)
    line = "storage|" & i & "|" & CLng(storage.Type) & "|" & storage.TotalSize & "|" & storage.FreeSize & "|" & _
           storage.ReadOnly & "|" & storage.Unformatted
    If Err.Number <> 0 Then Failed "storage " & i Else WScript.Echo line
    Set root = storage.RootFolder
    If Err.Number <> 0 Then
        Failed "RootFolder " & i
    Else
        For Each item In root.SubFolders
            line = "entry|" & i & "|folder|" & item.Name & "|" & item.Path & "|" & item.Size & "|"
            If item.SubFolders.Count > 0 Then line = line & "1" Else line = line & "0"
            If Err.Number <> 0 Then Failed "folder of " & i Else WScript.Echo line
        Next
        For Each item In root.Files
            line = "entry|" & i & "|file|" & item.Name & "|" & item.Path & "|" & item.Size & "|0"
            If Err.Number <> 0 Then Failed "file of " & i Else WScript.Echo line
        Next
        If Err.Number <> 0 Then Failed "listing " & i
    End If
Next
WScript.Echo "done"
