' One step of a walk over ZAVTCTRL's object model by a script client under cscript, against the player
' the environment names (KWEP_SIMULATED_PLAYER). zavtctrl_walk_test.cpp runs the steps in turn, each
' against the same player served anew, and checks the card's image after each.
' Usage: cscript //nologo zavtctrl_walk.vbs STEP STORAGE PCFOLDER
'   STEP      build, change, files, remove or format
'   STORAGE   0 internal memory, 1 the card
'   PCFOLDER  where the PC's copies of the files are made and uploaded to
' Output lines: "ok   CHECK" or "FAIL CHECK"; "expect PATH|SIZE" for every entry the storage holds after
' the step (SIZE in bytes, DIR for a folder; PATH from the root with "\" between names); "date
' PATH|yyyy-mm-dd" for the write date the object model gives an entry; "order NAME" for the root's
' folders in the order the object model lists them; "id PATH|N" for a file's record id; "audio
' PATH|CHANNELS|SAMPLE RATE|BIT RATE" for what its file object reports; "done" once the step has run.
Option Explicit

Dim failures
failures = 0

Sub Check(name, condition)
    If condition Then
        WScript.Echo "ok   " & name
    Else
        WScript.Echo "FAIL " & name & " (error " & Hex(Err.Number) & ": " & Err.Description & ")"
        failures = failures + 1
    End If
End Sub

Dim stepName, storageType, pc, fso
stepName = WScript.Arguments(0)
storageType = CLng(WScript.Arguments(1))
pc = WScript.Arguments(2)
Set fso = CreateObject("Scripting.FileSystemObject")

' ---- the files and the tree after each step ----

' The bytes of a PC file: text of the name repeated to the size (ASCII, so a text stream reads it whole).
Function Content(name, size)
    Dim unit, text
    unit = name & " 0123456789 abcdefghijklmnopqrstuvwxyz" & vbCrLf
    text = ""
    Do While Len(text) < size
        text = text & unit
    Loop
    Content = Left(text, size)
End Function

' The name a file had when it was downloaded (the files step renames one).
Function SourceName(name)
    If name = "RENAMED.BIN" Then SourceName = "A.BIN" Else SourceName = name
End Function

' The sizes of the files by name (names are unique over the tree).
Function FileSize(name)
    Select Case SourceName(name)
        Case "A.BIN": FileSize = 3000
        Case "ONE.BIN": FileSize = 20000
        Case "TWO.BIN": FileSize = 70000
        Case "LIVE.BIN": FileSize = 5000
        Case Else: FileSize = 1234
    End Select
End Function

Function BaseName(path)
    BaseName = Mid(path, InStrRev(path, "\") + 1)
End Function

Function ParentPath(path)
    If InStrRev(path, "\") = 0 Then
        ParentPath = ""
    Else
        ParentPath = Left(path, InStrRev(path, "\") - 1)
    End If
End Function

' Folders are "DIR"; files their size. Deep trees on the models that nest folders; the flat store keeps
' one level of folders and short names. The format of a folder-object model's internal memory makes the
' recording folder, which stays.
Function Expected(stepName, deep, recording)
    Dim d, entries, e, notes, talks
    Set d = CreateObject("Scripting.Dictionary")
    If deep Then
        notes = "Notes of a talk.txt"
        Select Case stepName
            Case "build"
                entries = Array("MUSIC", "MUSIC\ROCK", "MUSIC\ROCK\LIVE", "TALKS", "A.BIN", "MUSIC\ROCK\ONE.BIN", _
                                "MUSIC\ROCK\TWO.BIN", "MUSIC\ROCK\LIVE\LIVE.BIN", "TALKS\" & notes)
            Case "change"
                talks = "Talks and lectures"
                entries = Array("MUSIC", "MUSIC\ROCK", talks, talks & "\LIVE", "MUSIC\A.BIN", "MUSIC\ROCK\ONE.BIN", _
                                "MUSIC\ROCK\TWO.BIN", talks & "\LIVE\LIVE.BIN", talks & "\" & notes)
            Case "files"
                talks = "Talks and lectures"
                entries = Array("MUSIC", "MUSIC\ROCK", talks, talks & "\LIVE", "MUSIC\RENAMED.BIN", _
                                "MUSIC\ROCK\ONE.BIN", "MUSIC\ROCK\TWO.BIN", talks & "\" & notes)
            Case "remove"
                talks = "Talks and lectures"
                entries = Array("MUSIC", talks, talks & "\LIVE", "MUSIC\RENAMED.BIN", talks & "\" & notes)
            Case Else
                entries = Array()
        End Select
    Else
        Select Case stepName
            Case "build"
                entries = Array("MUSIC", "TALKS", "A.BIN", "MUSIC\ONE.BIN", "MUSIC\TWO.BIN", "TALKS\NOTES.TXT")
            Case "change"
                entries = Array("MUSIC", "LECTURES", "MUSIC\A.BIN", "MUSIC\ONE.BIN", "MUSIC\TWO.BIN", "LECTURES\NOTES.TXT")
            Case "files"
                entries = Array("MUSIC", "LECTURES", "MUSIC\RENAMED.BIN", "MUSIC\TWO.BIN", "LECTURES\NOTES.TXT")
            Case "remove"
                entries = Array("LECTURES", "LECTURES\NOTES.TXT")
            Case Else
                entries = Array()
        End Select
    End If
    If recording Then d("KWEP RECORD") = "DIR"
    For Each e In entries
        If InStr(BaseName(e), ".") > 0 Then
            d(e) = CStr(FileSize(BaseName(e)))
        Else
            d(e) = "DIR"
        End If
    Next
    Set Expected = d
End Function

' ---- the object model ----

Dim control, devices, device, storage, root, s, found, deep, recording

' Every entry below a folder, walked with For Each: path -> "DIR" or the file's size.
Sub Walk(folder, prefix, d)
    Dim f, sub_
    For Each f In folder.Files
        d(prefix & f.Name) = CStr(f.Size)
    Next
    For Each sub_ In folder.SubFolders
        d(prefix & sub_.Name) = "DIR"
        Walk sub_, prefix & sub_.Name & "\", d
    Next
End Sub

' The folder at a path ("" the root), found by walking the subfolders; Nothing when absent.
Function FolderAt(path)
    Dim folder, part, sub_, next_
    Set folder = root
    If path <> "" Then
        For Each part In Split(path, "\")
            Set next_ = Nothing
            For Each sub_ In folder.SubFolders
                If sub_.Name = part Then Set next_ = sub_
            Next
            Set folder = next_
            If folder Is Nothing Then Exit For
        Next
    End If
    Set FolderAt = folder
End Function

' The file at a path, from its folder's listing; Nothing when absent.
Function FileAt(path)
    Dim folder, f
    Set FileAt = Nothing
    Set folder = FolderAt(ParentPath(path))
    If folder Is Nothing Then Exit Function
    For Each f In folder.Files
        If f.Name = BaseName(path) Then Set FileAt = f
    Next
End Function

Function TwoDigits(n)
    TwoDigits = Right("0" & n, 2)
End Function

Sub Finish()
    WScript.Echo "done"
    Set root = Nothing
    Set storage = Nothing
    Set device = Nothing
    Set devices = Nothing
    Set control = Nothing
    If failures > 0 Then WScript.Quit 1
    WScript.Quit 0
End Sub

On Error Resume Next
Set control = CreateObject("ZAVTCTRL.ZAVTControl")
Check "CreateObject ZAVTCTRL.ZAVTControl", Err.Number = 0
Set devices = control.Devices
Check "Devices finds the player", Err.Number = 0 And devices.Count = 1
Set device = devices.Item(1)
found = False
For Each s In device.Storages
    If s.Type = storageType Then
        Set storage = s
        found = True
    End If
Next
Check "For Each over the storages finds storage " & storageType, found And Err.Number = 0
If Not found Then Finish
Set root = storage.RootFolder
Check "the storage's root folder", Err.Number = 0 And root.IsRootFolder <> 0 And root.Path = "\"
deep = device.Model <> 2 And device.Model <> 8
recording = deep And storageType = 0

Dim want, e, folder, pcPath, back, name
Set want = Expected(stepName, deep, recording)
Err.Clear
Select Case stepName
    Case "build"
        ' The folders, parents first, then the files downloaded into them.
        For Each e In want.Keys
            If want(e) = "DIR" And e <> "KWEP RECORD" Then
                Set folder = FolderAt(ParentPath(e))
                Err.Clear
                folder.CreateSubfolder BaseName(e)
                Check "CreateSubfolder " & e, Err.Number = 0
            End If
        Next
        If Not deep Then
            Err.Clear
            FolderAt("MUSIC").CreateSubfolder "DEEPER"
            Check "CreateSubfolder below the one folder level fails with 779", Err.Number = &H8004030B
        End If
        ' Every failure a script sees carries a description: a name FAT forbids, a PC file that is not
        ' there, an item past a collection's end.
        Err.Clear
        root.CreateSubfolder "G*H"
        Check "CreateSubfolder G*H fails with a description", Err.Number <> 0 And Err.Description <> ""
        Err.Clear
        storage.Download pc & "\absent.bin", ""
        Check "Download of an absent PC file fails with a description", Err.Number <> 0 And Err.Description <> ""
        Err.Clear
        Set back = devices.Item(2)
        Check "Item 2 of one device fails with a description", Err.Number <> 0 And Err.Description <> ""
        Err.Clear
        For Each e In want.Keys
            If want(e) <> "DIR" Then
                name = BaseName(e)
                pcPath = pc & "\" & name
                fso.CreateTextFile(pcPath, True, False).Write Content(name, FileSize(name))
                Set folder = FolderAt(ParentPath(e))
                Err.Clear
                folder.Download pcPath
                Check "Download " & e, Err.Number = 0
            End If
        Next
    Case "change"
        If deep Then
            FolderAt("TALKS").Name = "Talks and lectures"
            Check "rename folder TALKS", Err.Number = 0
            Err.Clear
            FolderAt("Talks and lectures").MoveFolderInside FolderAt("MUSIC\ROCK\LIVE")
            Check "MoveFolderInside LIVE", Err.Number = 0
        Else
            FolderAt("TALKS").Name = "LECTURES"
            Check "rename folder TALKS", Err.Number = 0
        End If
        Err.Clear
        FolderAt("MUSIC").MoveFileInside FileAt("A.BIN")
        Check "MoveFileInside A.BIN", Err.Number = 0
        ' Play order: the renamed folder placed first is then listed (and read by the player) first, the
        ' others keeping their order.
        Dim renamed, before, order, sub_
        If deep Then renamed = "Talks and lectures" Else renamed = "LECTURES"
        ' A name in use is refused, with the server's error and message.
        Err.Clear
        FolderAt("MUSIC").Name = renamed
        Check "renaming MUSIC to " & renamed & " fails with 789", Err.Number = &H80040315 And _
              Err.Description = "Name already exist" And FolderAt("MUSIC").Name = "MUSIC"
        Err.Clear
        before = ""
        For Each sub_ In root.SubFolders
            If sub_.Name <> renamed Then before = before & sub_.Name & "|"
        Next
        FolderAt(renamed).PlayIndex = 0
        Check "PlayIndex set on " & renamed, Err.Number = 0
        Check "PlayIndex of " & renamed & " read back", FolderAt(renamed).PlayIndex = 0 And Err.Number = 0
        order = ""
        For Each sub_ In root.SubFolders
            order = order & sub_.Name & "|"
        Next
        Check "the root lists " & renamed & " first", order = renamed & "|" & before
    Case "files"
        Dim one, two, firstFile, file
        Err.Clear
        FileAt("MUSIC\A.BIN").Name = "RENAMED.BIN"
        Check "rename file A.BIN", Err.Number = 0
        If deep Then
            one = "Talks and lectures\LIVE\LIVE.BIN"
            two = "MUSIC\ROCK\TWO.BIN"
        Else
            one = "MUSIC\ONE.BIN"
            two = "MUSIC\TWO.BIN"
        End If
        Err.Clear
        FileAt(one).Delete
        Check "Delete file " & one, Err.Number = 0
        ' Play order: TWO.BIN takes the place of the first file of its folder and is then listed first. (A
        ' position counts every entry of the folder, its own entries of a subfolder too.)
        Dim firstIndex
        Err.Clear
        firstIndex = FolderAt(ParentPath(two)).Files.Item(1).PlayIndex
        FileAt(two).PlayIndex = firstIndex
        Check "PlayIndex set on " & two, Err.Number = 0
        Check "PlayIndex of " & two & " read back", FileAt(two).PlayIndex = firstIndex And Err.Number = 0
        firstFile = ""
        For Each file In FolderAt(ParentPath(two)).Files
            If firstFile = "" Then firstFile = file.Name
        Next
        Check "its folder lists " & two & " first", firstFile = BaseName(two)
        ' A target the PC cannot name is the store's file error, described.
        Err.Clear
        FileAt("MUSIC\RENAMED.BIN").UploadTo ""
        Check "UploadTo """" fails with 774", Err.Number = &H80040306 And _
              Err.Description = "File not found or I/O Error."
        ' Upload writes the PC file under the name of the file's record.
        back = pc & "\RENAMED.BIN"
        If fso.FileExists(back) Then fso.DeleteFile back
        Err.Clear
        FileAt("MUSIC\RENAMED.BIN").Upload pc
        Check "Upload into a PC folder", Err.Number = 0 And fso.FileExists(back)
        If fso.FileExists(back) Then
            Check "the text of the upload into a PC folder", fso.OpenTextFile(back, 1).ReadAll = Content("A.BIN", 3000)
            fso.DeleteFile back
        End If
    Case "format"
        ' An empty storage; the root folder object is made anew, as after any change of the player.
        Err.Clear
        storage.Format
        Check "Format", Err.Number = 0
        Set root = storage.RootFolder
        Check "the root folder after the format", Err.Number = 0
    Case "remove"
        Err.Clear
        If deep Then
            FolderAt("MUSIC\ROCK").Delete
        Else
            FolderAt("MUSIC").Delete
        End If
        Check "Delete a folder with its files", Err.Number = 0
        If recording Then
            Err.Clear
            FolderAt("KWEP RECORD").Delete
            Check "Delete of the recording folder fails with 787", Err.Number = &H80040313
        End If
    Case Else
        Check "known step " & stepName, False
        Finish
End Select

' What the object model lists now, against what the step should have left.
Dim walked, same
Set walked = CreateObject("Scripting.Dictionary")
Err.Clear
Walk root, "", walked
Check "For Each over folders and files", Err.Number = 0
same = walked.Count = want.Count
For Each e In want.Keys
    If Not walked.Exists(e) Then
        same = False
        WScript.Echo "     missing from the walk: " & e
    ElseIf want(e) <> walked(e) Then
        same = False
        WScript.Echo "     " & e & " walked as " & walked(e) & ", expected " & want(e)
    End If
Next
For Each e In walked.Keys
    If Not want.Exists(e) Then WScript.Echo "     not expected in the walk: " & e
Next
Check "the walk lists what the " & stepName & " step leaves", same

' Every file uploaded back by its file object and compared; its record id and audio header reported.
Dim item
For Each e In want.Keys
    If want(e) <> "DIR" Then
        name = BaseName(e)
        back = pc & "\back-" & name
        If fso.FileExists(back) Then fso.DeleteFile back
        Err.Clear
        Set item = FileAt(e)
        item.UploadTo back
        Check "UploadTo " & e, Err.Number = 0
        Check "the bytes of " & e & " came back", fso.FileExists(back) And fso.GetFile(back).Size = FileSize(name)
        If fso.FileExists(back) Then
            Check "the text of " & e & " came back", _
                  fso.OpenTextFile(back, 1).ReadAll = Content(SourceName(name), FileSize(name))
            fso.DeleteFile back
        End If
        WScript.Echo "id " & e & "|" & item.FileSystemID
        WScript.Echo "audio " & e & "|" & item.Channels & "|" & item.SampleRate & "|" & item.Bitrate
        Check "the audio header of " & e, Err.Number = 0
    End If
Next

' The write dates, for the image's listing to confirm.
Dim when
For Each e In want.Keys
    Err.Clear
    If want(e) = "DIR" Then when = FolderAt(e).DateLastModified Else when = FileAt(e).DateLastModified
    Check "DateLastModified of " & e, Err.Number = 0 And Year(when) >= 1980
    WScript.Echo "date " & e & "|" & Year(when) & "-" & TwoDigits(Month(when)) & "-" & TwoDigits(Day(when))
Next

For Each e In want.Keys
    WScript.Echo "expect " & e & "|" & want(e)
Next
' The root's folders in the order the object model lists them.
Dim top
For Each top In root.SubFolders
    WScript.Echo "order " & top.Name
Next
Finish
