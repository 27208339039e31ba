Attribute VB_Name = "Vudaduv"
' vudaduv for Visual Basic 6: the six exports and their request records, field for field as in
' vudaduv.h (32-bit: every pointer is a Long). A string list points to an array of Longs, each
' the address of a NUL-terminated GBK string: on a system whose ANSI code page is 936,
'     Dim bytes() As Byte: bytes = StrConv(text & vbNullChar, vbFromUnicode)
' and VarPtr(bytes(0)); keep the byte arrays alive until the call has returned.
Option Explicit

Public Const WQ_OK As Long = 0                  ' sent, and the transport returned 0
Public Const WQ_NOTHING_TO_SEND As Long = -1    ' no command line came out; Rec.txt untouched
Public Const WQ_TRANSPORT_FAILED As Long = -2   ' the transport failed; Rec.txt was rewritten
Public Const WQ_UPLOAD_FILE_FAILED As Long = -3 ' Rec.txt could not be written

Public Type WQStringList
    items As Long       ' address of count Longs, each the address of a string
    count As Long
End Type

Public Type WQValueList
    items As Long       ' address of count Longs
    count As Long
End Type

Public Type WQTCP
    targets As WQStringList
    lines As WQStringList
    record_type As Long
End Type

Public Type WQST
    targets As WQStringList
    lines As WQStringList
    values As WQValueList
    record_type As Long
End Type

Public Type WQCOMM
    link As Long        ' the serial port's handle
    lines As WQStringList
    record_type As Long
End Type

Public Declare Function WQTCPSend Lib "VUDADUV.dll" (ByRef request As WQTCP) As Long
Public Declare Function WQTCPSendEn Lib "VUDADUV.dll" (ByRef request As WQTCP) As Long
Public Declare Function WQTCPSendST Lib "VUDADUV.dll" (ByRef request As WQST) As Long
Public Declare Function WQTCPSendSTEn Lib "VUDADUV.dll" (ByRef request As WQST) As Long
Public Declare Function WQCOMMSend Lib "VUDADUV.dll" (ByRef request As WQCOMM) As Long
Public Declare Function WQCOMMSendEn Lib "VUDADUV.dll" (ByRef request As WQCOMM) As Long
