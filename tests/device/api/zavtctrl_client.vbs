' A script client of ZAVTCTRL.dll under cscript: registers the server, creates the control by ProgID,
' drives it late-bound and unregisters. Each check prints "ok" or "FAIL"; the last line tells the result.
' Usage: cscript //nologo zavtctrl_client.vbs <path of ZAVTCTRL.dll>
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
