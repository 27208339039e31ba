{ vudaduv for Delphi (and Free Pascal in Delphi mode): the six exports and their request
  records, field for field as in vudaduv.h, aligned as C aligns them on 32-bit and 64-bit
  Windows alike. Strings are NUL-terminated GBK bytes (code page 936): PAnsiChar of an AnsiString
  on a system whose ANSI code page is 936, or of a RawByteString that holds GBK bytes. }
unit Vudaduv;

{$ALIGN 8}

interface

const
  VudaduvLibrary = {$IFDEF MSWINDOWS}'VUDADUV.dll'{$ELSE}'libvudaduv.so'{$ENDIF};

  WQ_OK = 0;                  { sent, and the transport returned 0 }
  WQ_NOTHING_TO_SEND = -1;    { no command line came out; Rec.txt untouched }
  WQ_TRANSPORT_FAILED = -2;   { the transport failed; Rec.txt was rewritten }
  WQ_UPLOAD_FILE_FAILED = -3; { Rec.txt could not be written }

type
  TWQStringList = record
    items: PPAnsiChar;  { count pointers to strings; nil when count is 0 }
    count: Cardinal;
  end;

  TWQValueList = record
    items: PCardinal;
    count: Cardinal;
  end;

  TWQTCP = record
    targets, lines: TWQStringList;
    record_type: Cardinal;
  end;

  TWQST = record
    targets, lines: TWQStringList;
    values: TWQValueList;
    record_type: Cardinal;
  end;

  TWQCOMM = record
    link: Cardinal;  { the serial port's handle }
    lines: TWQStringList;
    record_type: Cardinal;
  end;

  PWQTCP = ^TWQTCP;
  PWQST = ^TWQST;
  PWQCOMM = ^TWQCOMM;

function WQTCPSend(request: PWQTCP): Integer; stdcall; external VudaduvLibrary;
function WQTCPSendEn(request: PWQTCP): Integer; stdcall; external VudaduvLibrary;
function WQTCPSendST(request: PWQST): Integer; stdcall; external VudaduvLibrary;
function WQTCPSendSTEn(request: PWQST): Integer; stdcall; external VudaduvLibrary;
function WQCOMMSend(request: PWQCOMM): Integer; stdcall; external VudaduvLibrary;
function WQCOMMSendEn(request: PWQCOMM): Integer; stdcall; external VudaduvLibrary;

{ var
    targets: array[0..0] of PAnsiChar;
    lines: array[0..0] of PAnsiChar;
    request: TWQTCP;
  ...
    targets[0] := '192.168.1.50';
    lines[0] := '12A0100000599##Apple';
    request.targets.items := @targets[0]; request.targets.count := 1;
    request.lines.items := @lines[0]; request.lines.count := 1;
    request.record_type := 1;
    if WQTCPSend(@request) = WQ_OK then ...  // Rec.txt: the scale's answers as upload lines }

implementation

end.
