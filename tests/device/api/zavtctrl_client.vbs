' A script client of ZAVTCTRL.dll under cscript: registers the server, creates the control by ProgID,
' drives it late-bound and unregisters. Each check prints "ok" or "FAIL"; the last line tells the result.
' Usage: cscript //nologo zavtctrl_client.vbs <path of ZAVTCTRL.dll> <path of playersim.exe>, with
' KWEP_SIMULATED_PLAYER naming the pipe the script's player is to be served on.
Option Explicit

Dim failures
failures = 0

Sub Check(name, condition)
    If condition Then
        WScript.Echo "ok   " & name
    Else
        WScript.Echo "FAIL " & name
        failures = failures + 1
    End If
End Sub

Dim shell, dll, rc
Set shell = CreateObject("WScript.Shell")
dll = WScript.Arguments(0)

rc = shell.Run("regsvr32.exe /s """ & dll & """", 0, True)
Check "regsvr32 registers the server", rc = 0

Dim control, again, device, devices
On Error Resume Next
Set control = CreateObject("ZAVTCTRL.ZAVTControl")
Check "CreateObject ZAVTCTRL.ZAVTControl", Err.Number = 0
Check "the control's interface is IZAVTControl", TypeName(control) = "IZAVTControl"
Err.Clear
Set again = CreateObject("ZAVTCTRL.ZAVTControl.1")
Check "CreateObject ZAVTCTRL.ZAVTControl.1", Err.Number = 0 And TypeName(again) = "IZAVTControl"
Set again = Nothing

Err.Clear
control.SpecialBuildNumber = 4
Check "SpecialBuildNumber is stored", Err.Number = 0 And control.SpecialBuildNumber = 4
control.SpecialBuildNumber = 0

' Without a device, Devices fails with the description of string 768 under the control's ProgID.
Err.Clear
Set devices = control.Devices
Check "Devices fails", Err.Number <> 0
Check "Devices error description", Err.Description = "Device Initialization failed. Possible not connected."
Check "Devices error source", Err.Source = "ZAVTCTRL.ZAVTControl.1"
Check "Devices hands out nothing", IsEmpty(devices)

Err.Clear
control.DeleteFile 0, 0, "A.MP3"
Check "DeleteFile is not implemented", Err.Number <> 0

Err.Clear
Set device = CreateObject("ZAVTCTRL.ZAVTDevice")
Check "CreateObject ZAVTCTRL.ZAVTDevice", Err.Number = 0 And TypeName(device) = "IZAVTDevice"
Set device = Nothing
Set control = Nothing
On Error GoTo 0

' ---- against a simulated player ----
' The environment names the player's pipe (\\.\pipe\NAME); playersim serves a fresh model 8 under that
' name until the script ends it.
Dim fso, pipePath, pipeName, playerFolder, sim, tries, storages, storage, src, dst, text
Set fso = CreateObject("Scripting.FileSystemObject")
pipePath = shell.ExpandEnvironmentStrings("%KWEP_SIMULATED_PLAYER%")
pipeName = Mid(pipePath, InStrRev(pipePath, "\") + 1)
Randomize
playerFolder = fso.GetSpecialFolder(2) & "\kwep-vbs-" & CLng(Timer * 100) & "-" & Int(Rnd * 100000)
On Error Resume Next
Set sim = shell.Exec("""" & WScript.Arguments(1) & """ --create """ & playerFolder & """ --model 8 --pipe " & pipeName)
Check "playersim started", Err.Number = 0 And pipeName <> ""

' Devices answers once the player is served (each try is one look for the pipe).
Set control = CreateObject("ZAVTCTRL.ZAVTControl")
tries = 0
Do
    Err.Clear
    Set devices = control.Devices
    tries = tries + 1
Loop While Err.Number <> 0 And tries < 200000 And sim.Status = 0
Check "Devices with a player", Err.Number = 0
Check "Devices.Count is 1", devices.Count = 1
Set device = devices.Item(1)
Check "Item(1) name", device.Name = "KWEP KWEP08"
Check "Item(1) model", device.Model = 8
Check "Item(1) firmware version", device.FirmwareVersion = "1.00"
Check "Item(1) firmware date", device.FirmwareDate = "2004.01.01"
Check "capabilities: firmware upgrade", device.SupportFirmwareUpgrade = 1
Check "capabilities: FM radio", device.SupportFMRadio = 0
Check "capabilities: images", device.SupportImages = 0
Check "sectors per cluster", device.SectorsPerClusterInternal = 32
Set storages = device.Storages
Check "one storage without a card", storages.Count = 1
Set storage = storages.Item(1)
' A failure the server has no message of its own for still carries a description: an item past a
' collection's end, a root folder deleted (under the folder's ProgID), a storage out of range.
Err.Clear
Set text = storages.Item(2)
Check "Item 2 of one storage fails with a description", Err.Number <> 0 And Err.Description <> ""
Err.Clear
storage.RootFolder.Delete
Check "Delete of a root fails with a description", Err.Number <> 0 And Err.Description <> "" And _
      Err.Source = "ZAVTCTRL.ZAVTFolder.1"
Err.Clear
device.Download 7, "C:\x.bin", ""
Check "Download to storage 7 fails with a description", Err.Number <> 0 And Err.Description <> ""
Check "the storage is internal memory", storage.Type = 0 And storage.Name = "INTERNAL MEMORY"
Set storage = Nothing
Set storages = Nothing

' A download into a folder and the upload of the same file.
src = fso.GetSpecialFolder(2) & "\NOTE.TXT"
dst = fso.GetSpecialFolder(2) & "\note-back.txt"
Set text = fso.CreateTextFile(src, True)
For tries = 1 To 400
    text.WriteLine "line " & tries & " of the note downloaded to the player and uploaded back"
Next
text.Close
If fso.FileExists(dst) Then fso.DeleteFile dst
Err.Clear
device.Download 0, src, "\MUSIC"
Check "Download by path into \MUSIC", Err.Number = 0
Err.Clear
device.Upload 0, "NOTE.TXT", dst
Check "Upload by path", Err.Number = 0
Check "the uploaded bytes are the source's", fso.FileExists(dst) And fso.GetFile(dst).Size = fso.GetFile(src).Size
If fso.FileExists(dst) Then
    Check "the uploaded text is the source's", fso.OpenTextFile(dst, 1).ReadAll = fso.OpenTextFile(src, 1).ReadAll
End If
Err.Clear
device.Upload 0, "ABSENT.TXT", dst
Check "Upload of an absent file: error 774", Err.Number = &H80040306
Check "Upload of an absent file: description", Err.Description = "File not found or I/O Error."
Check "Upload of an absent file: source", Err.Source = "ZAVTCTRL.ZAVTDevice.1"

' The control gone, the device object has no context: error 769.
Set devices = Nothing
Set control = Nothing
Err.Clear
text = device.Name
Check "Err.Number 769 after the control is gone", Err.Number = &H80040301
Check "Err.Description 769", Err.Description = "No Device object or initialized inproperly."
Check "Err.Source 769", Err.Source = "ZAVTCTRL.ZAVTDevice.1"
Set device = Nothing

' Without a player: Devices fails with 768 and the failing refresh's HRESULT.
sim.Terminate
Set control = CreateObject("ZAVTCTRL.ZAVTControl")
Err.Clear
Set devices = control.Devices
Check "Err.Number 768 without a player", Err.Number = &H80004005
Check "Err.Description 768", Err.Description = "Device Initialization failed. Possible not connected."
Check "Err.Source 768", Err.Source = "ZAVTCTRL.ZAVTControl.1"
Set control = Nothing
fso.DeleteFile src
fso.DeleteFile dst
fso.DeleteFolder playerFolder, True
On Error GoTo 0

rc = shell.Run("regsvr32.exe /s /u """ & dll & """", 0, True)
Check "regsvr32 /u unregisters the server", rc = 0
On Error Resume Next
Err.Clear
Set control = CreateObject("ZAVTCTRL.ZAVTControl")
Check "the ProgID is gone after unregistration", Err.Number <> 0
On Error GoTo 0

If failures = 0 Then
    WScript.Echo "all checks passed"
Else
    WScript.Echo failures & " checks failed"
    WScript.Quit 1
End If
