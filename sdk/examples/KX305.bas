Attribute VB_Name = "KX305"
' The KX-305 converter from VBA (Excel, Access, Word): its identity and the
' current readings of its five inputs.  kx305.dll must match Office's width:
' the 64-bit DLL for 64-bit Office, the 32-bit one otherwise; put it in a
' folder on PATH or give its full path in the Lib clauses below.
'
' In a worksheet:  =KX305Serial("\\.\COM3")  or run ReadConverter.
Option Explicit

Public Type ConverterInfo
    VersionMajor As Byte
    VersionMinor As Byte
    Day As Byte
    Month As Byte
    Year As Integer
    SerialNumber As Integer
End Type

' One input: instrument type (0 = nothing) and 22 data words.
Public Type InputReading
    InputType As Long
    Data(0 To 21) As Long
End Type

Public Type ResultSet
    Inputs(0 To 4) As InputReading
End Type

Private Const STATUS_OK As Long = 0
Private Const STATUS_BUSY As Long = 1
Private Const STATUS_PROGRESS As Long = 2

#If VBA7 Then
Private Declare PtrSafe Function KX305Open Lib "kx305.dll" (ByRef handle As LongPtr, ByVal portPath As String) As Long
Private Declare PtrSafe Function KX305Close Lib "kx305.dll" (ByRef handle As LongPtr) As Long
Private Declare PtrSafe Function KX305DoneWait Lib "kx305.dll" (ByRef handle As LongPtr, ByRef percent As Long) As Long
Private Declare PtrSafe Function KX305GetInfo Lib "kx305.dll" (ByRef handle As LongPtr, ByRef info As ConverterInfo) As Long
Private Declare PtrSafe Function KX305GetResults Lib "kx305.dll" (ByRef handle As LongPtr, ByRef results As ResultSet) As Long
#Else
Private Declare Function KX305Open Lib "kx305.dll" (ByRef handle As Long, ByVal portPath As String) As Long
Private Declare Function KX305Close Lib "kx305.dll" (ByRef handle As Long) As Long
Private Declare Function KX305DoneWait Lib "kx305.dll" (ByRef handle As Long, ByRef percent As Long) As Long
Private Declare Function KX305GetInfo Lib "kx305.dll" (ByRef handle As Long, ByRef info As ConverterInfo) As Long
Private Declare Function KX305GetResults Lib "kx305.dll" (ByRef handle As Long, ByRef results As ResultSet) As Long
#End If

' A request only starts in the library; KX305DoneWait waits for its end.
#If VBA7 Then
Private Function Finish(ByRef handle As LongPtr) As Long
#Else
Private Function Finish(ByRef handle As Long) As Long
#End If
    Dim percent As Long
    Dim status As Long
    Do
        status = KX305DoneWait(handle, percent)
        DoEvents
    Loop While status = STATUS_BUSY Or status = STATUS_PROGRESS
    Finish = status
End Function

' The converter's serial number, or an error text.
Public Function KX305Serial(ByVal port As String) As Variant
#If VBA7 Then
    Dim handle As LongPtr
#Else
    Dim handle As Long
#End If
    Dim info As ConverterInfo
    Dim status As Long
    status = KX305Open(handle, port)
    If status <> STATUS_OK Then
        KX305Serial = "Cannot open the port " & port & " (" & status & ")"
        Exit Function
    End If
    status = KX305GetInfo(handle, info)
    If status = STATUS_OK Then status = Finish(handle)
    If status = STATUS_OK Then
        KX305Serial = CLng(info.SerialNumber) And &HFFFF&
    Else
        KX305Serial = "The converter does not answer (" & status & ")"
    End If
    KX305Close handle
End Function

' Writes the instrument type and the first data words of every input into
' the active sheet, from cell A1 on.
Public Sub ReadConverter()
    Dim port As String
#If VBA7 Then
    Dim handle As LongPtr
#Else
    Dim handle As Long
#End If
    Dim results As ResultSet
    Dim status As Long
    Dim i As Integer, j As Integer
    port = InputBox("Converter port:", "KX-305", "\\.\COM1")
    If port = "" Then Exit Sub
    status = KX305Open(handle, port)
    If status <> STATUS_OK Then
        MsgBox "Cannot open the port " & port & " (" & status & ")", vbExclamation
        Exit Sub
    End If
    status = KX305GetResults(handle, results)
    If status = STATUS_OK Then status = Finish(handle)
    KX305Close handle
    If status <> STATUS_OK Then
        MsgBox "The converter does not answer (" & status & ")", vbExclamation
        Exit Sub
    End If
    For i = 0 To 4
        ActiveSheet.Cells(i + 1, 1).Value = "Input " & i
        ActiveSheet.Cells(i + 1, 2).Value = results.Inputs(i).InputType
        For j = 0 To 5
            ActiveSheet.Cells(i + 1, 3 + j).Value = results.Inputs(i).Data(j)
        Next j
    Next i
End Sub
