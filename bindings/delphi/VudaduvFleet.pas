{ The fleet's library for Delphi (and Free Pascal in Delphi mode): the records, codes and exports
  of vudaduv_fleet_c.h, field for field, aligned as C aligns them on 32-bit and 64-bit Windows
  alike; then a few helpers that copy the library's texts into strings and turn its codes into
  exceptions. Texts cross as NUL-terminated bytes in the session's encoding: UTF-8 in a
  VDFLEET_TEXT_UTF8 session (UTF8String, UTF8ToString), GBK bytes in a GBK one. The helpers
  return them as RawByteString, byte for byte as the library wrote them. }
unit VudaduvFleet;

{$ALIGN 8}

interface

uses
  SysUtils;

const
  VudaduvFleetLibrary = {$IFDEF MSWINDOWS}'VUDADUV_FLEET.dll'{$ELSE}'libvudaduv_fleet.so'{$ENDIF};

  VDFLEET_VERSION_MAJOR = 1;
  VDFLEET_VERSION_MINOR = 1;
  VDFLEET_VERSION_PATCH = 0;
  VDFLEET_VERSION = 10100;

  VDFLEET_OK = 0;
  VDFLEET_SCALES = 1;  { from 1.1.0: done, not every scale as asked }
  VDFLEET_E_ARGUMENT = -1;
  VDFLEET_E_SESSION = -2;
  VDFLEET_E_TEXT = -3;
  VDFLEET_E_FAILED = -4;
  VDFLEET_E_STOPPED = -5;
  VDFLEET_E_BUSY = -6;
  VDFLEET_E_SCALES = -7;  { 1.0's VDFLEET_SCALES, never returned from 1.1.0 }
  VDFLEET_E_FINDINGS = -8;
  VDFLEET_E_LOCKED = -9;
  VDFLEET_E_STATE = -10;
  VDFLEET_E_MEMORY = -11;

  VDFLEET_TEXT_GBK = 0;
  VDFLEET_TEXT_UTF8 = 1;

  VDFLEET_PHASE_READING = 1;
  VDFLEET_PHASE_READING_IN_FULL = 2;
  VDFLEET_PHASE_SENDING = 3;

  VDFLEET_EVENT_PHASE = 1;
  VDFLEET_EVENT_LINES = 2;
  VDFLEET_EVENT_SCALE_DONE = 3;

  VDFLEET_LINE = 1;
  VDFLEET_FIELD = 2;
  VDFLEET_WHAT = 3;
  VDFLEET_KEY = 4;
  VDFLEET_TYPE = 5;
  VDFLEET_NUMBER = 6;
  VDFLEET_RECORD = 7;
  VDFLEET_ADDRESS = 8;
  VDFLEET_CODE = 9;
  VDFLEET_CODE_NAME = 10;
  VDFLEET_CAUSE = 11;
  VDFLEET_IMAGE = 12;
  VDFLEET_RECORDS = 13;
  VDFLEET_KIND = 14;
  VDFLEET_BEFORE = 15;
  VDFLEET_AFTER = 16;
  VDFLEET_STATUS = 17;
  VDFLEET_STATUS_NAME = 18;
  VDFLEET_PLANNED = 19;
  VDFLEET_REMOVALS = 20;
  VDFLEET_WRITTEN = 21;
  VDFLEET_CONFIRMED = 22;
  VDFLEET_PENDING = 23;
  VDFLEET_UNCHANGED = 24;
  VDFLEET_PROBED = 25;
  VDFLEET_DIFFERING = 26;

  VDFLEET_ADDED = 1;
  VDFLEET_REMOVED = 2;
  VDFLEET_CHANGED = 3;

  VDFLEET_STATUS_IN_STEP = 0;
  VDFLEET_STATUS_SYNCED = 1;
  VDFLEET_STATUS_DRIFT_REPAIRED = 2;
  VDFLEET_STATUS_REFUSED_CAP = 3;
  VDFLEET_STATUS_FAILED = 4;
  VDFLEET_STATUS_INTERRUPTED = 5;
  VDFLEET_STATUS_PLANNED = 6;

  VDFLEET_CAP_PERCENT = 0;
  VDFLEET_CAP_COUNT = 1;
  VDFLEET_CAP_ALL = 2;

  VDFLEET_SYNC_REMOVE_MISSING = 1;
  VDFLEET_SYNC_DRY_RUN = 2;
  VDFLEET_SYNC_READ_SCALES = 4;
  VDFLEET_SYNC_NO_READ_BACK = 8;
  VDFLEET_SYNC_NO_PROBE = 16;
  VDFLEET_SYNC_ACCEPT_CHANGES = 32;

type
  PVDFleetSession = type Pointer;  { the library's own; nil is no session }

  TVDFleetOptions = record
    size: Cardinal;  { SizeOf(TVDFleetOptions) }
    text: Cardinal;  { VDFLEET_TEXT_GBK or VDFLEET_TEXT_UTF8 }
    en: Cardinal;
    timeout_ms: Cardinal;
    tries: Cardinal;
    port: Cardinal;
    state_dir: PAnsiChar;  { copied by the library }
  end;
  PVDFleetOptions = ^TVDFleetOptions;

  TVDFleetSyncRequest = record
    size: Cardinal;  { SizeOf(TVDFleetSyncRequest) }
    record_type: Cardinal;
    lines: PPAnsiChar;  { line_count pointers to texts; nil when line_count is 0 }
    line_count: Cardinal;
    image: PAnsiChar;
    addresses: PPAnsiChar;
    address_count: Cardinal;
    flags: Cardinal;
    cap_kind: Cardinal;
    cap_value: Cardinal;
    probe: Cardinal;
    reserved: Cardinal;  { 0 }
  end;
  PVDFleetSyncRequest = ^TVDFleetSyncRequest;

  { One event of a call's progress; read a field only when size covers it. }
  TVDFleetProgressEvent = record
    size: Cardinal;
    kind: Cardinal;
    phase: Cardinal;
    done: Cardinal;
    total: Cardinal;
    scale: Cardinal;
    scales_done: Cardinal;
    scales: Cardinal;
  end;
  PVDFleetProgressEvent = ^TVDFleetProgressEvent;

  { Told the phase, the lines answered in it so far and the lines it sends in all; non-zero stops
    the call. Runs on the calling thread inside the call: it must let no exception out. }
  TVDFleetProgress = function(user: Pointer; phase, done, total: Cardinal): Integer; stdcall;
  TVDFleetProgressEvents = function(user: Pointer; progress_event: PVDFleetProgressEvent): Integer; stdcall;

function VDFleetVersion: Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetCodeName(code: Integer): PAnsiChar; stdcall; external VudaduvFleetLibrary;
function VDFleetSetProgressEvents(session: PVDFleetSession; progress: TVDFleetProgressEvents; user: Pointer): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetOpen(options: PVDFleetOptions; out session: PVDFleetSession): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetClose(session: PVDFleetSession): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetLastError(session: PVDFleetSession; buffer: PAnsiChar; size: Cardinal): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetSetProgress(session: PVDFleetSession; progress: TVDFleetProgress; user: Pointer): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetCancel(session: PVDFleetSession): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetResultCount(session: PVDFleetSession; out count: Cardinal): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetResultText(session: PVDFleetSession; row, field: Cardinal; buffer: PAnsiChar; size: Cardinal): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetResultNumber(session: PVDFleetSession; row, field: Cardinal; out value: Int64): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetCheck(session: PVDFleetSession; record_type: Cardinal; lines: PPAnsiChar; count: Cardinal): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetReadImage(session: PVDFleetSession; image: PAnsiChar): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetDiff(session: PVDFleetSession; image_a, image_b: PAnsiChar): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetReadScales(session: PVDFleetSession; addresses: PPAnsiChar; count: Cardinal; types: PCardinal; type_count: Cardinal; first_item, last_item: Integer): Integer; stdcall; external VudaduvFleetLibrary;
function VDFleetSync(session: PVDFleetSession; request: PVDFleetSyncRequest): Integer; stdcall; external VudaduvFleetLibrary;

type
  { A code of the library that is no success, with the session's last error. }
  EVudaduvFleet = class(Exception)
  private
    FCode: Integer;
    FErrorText: RawByteString;
  public
    constructor Create(const call: string; code: Integer; const errorText: RawByteString);
    property Code: Integer read FCode;
    property ErrorText: RawByteString read FErrorText;
  end;

  { The pointers of texts, for a list of the library; valid while the texts are. }
  TFleetTexts = array of PAnsiChar;

{ Records with their size set and every other field zero: a GBK session with the transport's
  defaults, a sync of nothing. }
function NewFleetOptions: TVDFleetOptions;
function NewFleetSyncRequest: TVDFleetSyncRequest;

function FleetTexts(const texts: array of RawByteString): TFleetTexts;
function FleetTextList(const pointers: TFleetTexts): PPAnsiChar;  { nil when empty }

{ Texts copied out whole, however long. }
function FleetLastError(session: PVDFleetSession): RawByteString;
function FleetResultText(session: PVDFleetSession; row, field: Cardinal): RawByteString;

function FleetResultCount(session: PVDFleetSession): Cardinal;
function FleetResultNumber(session: PVDFleetSession; row, field: Cardinal): Int64;

function FleetCodeName(code: Integer): string;

{ code itself when it is VDFLEET_OK, a length (0 or more) or allowed (VDFLEET_E_SCALES for a
  sync that tells each scale's outcome in its rows); raises EVudaduvFleet with the session's last
  error otherwise. }
function FleetCheck(session: PVDFleetSession; code: Integer; const call: string;
  allowed: Integer = VDFLEET_OK): Integer;

implementation

constructor EVudaduvFleet.Create(const call: string; code: Integer; const errorText: RawByteString);
var
  shown: string;
begin
  if errorText <> '' then shown := string(errorText) else shown := FleetCodeName(code);
  inherited Create(call + ': ' + shown);
  FCode := code;
  FErrorText := errorText;
end;

function NewFleetOptions: TVDFleetOptions;
begin
  FillChar(Result, SizeOf(Result), 0);
  Result.size := SizeOf(Result);
end;

function NewFleetSyncRequest: TVDFleetSyncRequest;
begin
  FillChar(Result, SizeOf(Result), 0);
  Result.size := SizeOf(Result);
end;

function FleetTexts(const texts: array of RawByteString): TFleetTexts;
var
  i: Integer;
begin
  Result := nil;
  SetLength(Result, Length(texts));
  for i := 0 to High(texts) do
    Result[i] := PAnsiChar(texts[i]);
end;

function FleetTextList(const pointers: TFleetTexts): PPAnsiChar;
begin
  if Length(pointers) = 0 then Result := nil else Result := @pointers[0];
end;

type
  TCopyOut = function(session: PVDFleetSession; row, field: Cardinal; buffer: PAnsiChar;
    size: Cardinal): Integer;

function CopyLastError(session: PVDFleetSession; row, field: Cardinal; buffer: PAnsiChar;
  size: Cardinal): Integer;
begin
  Result := VDFleetLastError(session, buffer, size);
end;

function CopyResultText(session: PVDFleetSession; row, field: Cardinal; buffer: PAnsiChar;
  size: Cardinal): Integer;
begin
  Result := VDFleetResultText(session, row, field, buffer, size);
end;

{ The library's snprintf-like copy: the length first, then the text into a string that long. }
function CopiedOut(copier: TCopyOut; session: PVDFleetSession; row, field: Cardinal;
  out text: RawByteString): Integer;
begin
  text := '';
  Result := copier(session, row, field, nil, 0);
  if Result <= 0 then Exit;
  SetLength(text, Result);
  Result := copier(session, row, field, PAnsiChar(text), Result + 1);
  if Result < 0 then text := '' else SetLength(text, Result);
end;

function FleetLastError(session: PVDFleetSession): RawByteString;
begin
  CopiedOut(CopyLastError, session, 0, 0, Result);
end;

function FleetResultText(session: PVDFleetSession; row, field: Cardinal): RawByteString;
begin
  FleetCheck(session, CopiedOut(CopyResultText, session, row, field, Result), 'VDFleetResultText');
end;

function FleetResultCount(session: PVDFleetSession): Cardinal;
begin
  FleetCheck(session, VDFleetResultCount(session, Result), 'VDFleetResultCount');
end;

function FleetResultNumber(session: PVDFleetSession; row, field: Cardinal): Int64;
begin
  FleetCheck(session, VDFleetResultNumber(session, row, field, Result), 'VDFleetResultNumber');
end;

function FleetCodeName(code: Integer): string;
begin
  { The library names its codes; no table of them here. }
  Result := string(AnsiString(VDFleetCodeName(code)));
end;

function FleetCheck(session: PVDFleetSession; code: Integer; const call: string;
  allowed: Integer): Integer;
var
  text: RawByteString;
begin
  Result := code;
  if (code >= VDFLEET_OK) or (code = allowed) then Exit;
  text := '';
  if session <> nil then text := FleetLastError(session);
  raise EVudaduvFleet.Create(call, code, text);
end;

end.
