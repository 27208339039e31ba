{ The Delphi declarations of the fleet's library against the built library, three virtual scales
  and an address where nothing listens: tables of checks, images and diffs; a sync of the four
  with each scale's outcome, read back in GBK; a stop from the progress function and the run
  after it; the errors' texts. Exit status 0 when every check holds. }
program fleet_test;

uses
  SysUtils, VudaduvFleet;

const
  Items = 60;
  { UTF-8 and GBK bytes of the same Chinese texts }
  MilkUtf8 = #$E7#$89#$9B#$E5#$A5#$B6;
  MilkGbk = #$C5#$A3#$C4#$CC;
  TeaUtf8 = #$E8#$8C#$B6;
  CoffeeUtf8 = #$E5#$92#$96#$E5#$95#$A1;
  Emoji = #$F0#$9F#$98#$80;

type
  TProgress = record
    calls: Integer;
    sawSending: Boolean;
    countsHold: Boolean;
    answered: Cardinal;  { lines answered in the sending phase }
    stopAfter: Cardinal; { 0: never stop }
  end;
  PProgress = ^TProgress;
  TTexts = array of RawByteString;

var
  Failures: Integer = 0;

procedure Check(const what: string; holds: Boolean);
begin
  if holds then WriteLn('ok     ', what) else WriteLn('FAILED ', what);
  if not holds then Inc(Failures);
end;

function Contains(const text, part: RawByteString): Boolean;
begin
  Result := (part = '') or (Pos(part, text) > 0);
end;

function Open(text: Cardinal; const stateDir: RawByteString): PVDFleetSession;
var
  options: TVDFleetOptions;
begin
  options := NewFleetOptions;
  options.text := text;
  options.timeout_ms := 1000;
  options.tries := 1;
  if stateDir <> '' then options.state_dir := PAnsiChar(stateDir);
  FleetCheck(nil, VDFleetOpen(@options, Result), 'VDFleetOpen');
end;

function OnProgress(user: Pointer; phase, done, total: Cardinal): Integer; stdcall;
var
  progress: PProgress;
begin
  progress := PProgress(user);
  Inc(progress^.calls);
  if (total <> 0) and (done > total) then progress^.countsHold := False;
  Result := 0;
  if phase <> VDFLEET_PHASE_SENDING then Exit;
  progress^.sawSending := True;
  progress^.answered := done;
  if (progress^.stopAfter > 0) and (done >= progress^.stopAfter) then
  begin
    { The library looks at its stop flag between replies from time to time: a pause lets it look
      before these fast scales are done. }
    Sleep(30);
    Result := 1;
  end;
end;

function Split(const text: RawByteString): TTexts;
var
  rest: RawByteString;
  blank: Integer;
begin
  Result := nil;
  rest := Trim(text) + ' ';
  while rest <> ' ' do
  begin
    blank := Pos(' ', rest);
    SetLength(Result, Length(Result) + 1);
    Result[High(Result)] := Copy(rest, 1, blank - 1);
    rest := Copy(rest, blank + 1, Length(rest));
    if rest = '' then rest := ' ';
  end;
end;

function ItemLines(first: Integer; const name: RawByteString): TTexts;
var
  i: Integer;
begin
  Result := nil;
  SetLength(Result, Items);
  for i := 0 to Items - 1 do
    Result[i] := IntToStr(first + i) + 'A5##' + name + ' ' + IntToStr(first + i);
end;

{ The code a call raised as EVudaduvFleet, 0 when it raised nothing; its text must hold part. }
function RaisedCode(session: PVDFleetSession; code: Integer; const call: string;
  const part: RawByteString): Integer;
begin
  Result := 0;
  try
    FleetCheck(session, code, call);
  except
    on e: EVudaduvFleet do
    begin
      Result := e.Code;
      if not Contains(e.ErrorText, part) or not Contains(RawByteString(e.Message), part) then Result := 1;
    end;
  end;
end;

procedure TestCheck;
type
  TCase = record
    recordType: Cardinal;
    line: RawByteString;
    findings: Cardinal;
    field: RawByteString;
  end;
const
  Cases: array[0..4] of TCase = (
    (recordType: 1; line: '2A5##Milk'; findings: 0; field: ''),
    (recordType: 1; line: '5000A7'; findings: 1; field: 'item number'),
    (recordType: 1; line: '3A5##ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJ'; findings: 1; field: 'text 1'),
    (recordType: 1; line: '7A5##' + MilkUtf8; findings: 0; field: ''),
    (recordType: 3; line: '05AHello'; findings: 0; field: ''));
var
  session: PVDFleetSession;
  lines: TFleetTexts;
  i: Integer;
  name: string;
begin
  session := Open(VDFLEET_TEXT_UTF8, '');
  for i := Low(Cases) to High(Cases) do
  begin
    { The case is the second line: a finding names its line. }
    lines := FleetTexts(['1A1', Cases[i].line]);
    name := 'check ''' + string(Cases[i].line) + '''';
    FleetCheck(session, VDFleetCheck(session, Cases[i].recordType, FleetTextList(lines), 2), 'VDFleetCheck');
    Check(name + ': finding(s)', FleetResultCount(session) = Cases[i].findings);
    if (Cases[i].findings = 0) or (FleetResultCount(session) = 0) then Continue;
    Check(name + ': on line 1, ' + string(Cases[i].field),
      (FleetResultNumber(session, 0, VDFLEET_LINE) = 1) and
      (FleetResultText(session, 0, VDFLEET_FIELD) = Cases[i].field) and
      (FleetResultText(session, 0, VDFLEET_WHAT) <> ''));
  end;
  lines := FleetTexts(['1A5##' + Emoji]);
  Check('check: a character GBK lacks is a finding of its line',
    (VDFleetCheck(session, 1, FleetTextList(lines), 1) = VDFLEET_OK) and
    (FleetResultCount(session) = 1) and (FleetResultNumber(session, 0, VDFLEET_LINE) = 0));
  Check('check: a type that stores nothing is VDFLEET_E_ARGUMENT',
    VDFleetCheck(session, 2, FleetTextList(lines), 1) = VDFLEET_E_ARGUMENT);
  Check('check: a NULL list with a count is VDFLEET_E_ARGUMENT', VDFleetCheck(session, 1, nil, 3) = VDFLEET_E_ARGUMENT);
  VDFleetClose(session);
end;

procedure TestImages;
type
  TCase = record
    image: RawByteString;
    code: Integer;
    records: Cardinal;
    firstKey: RawByteString;
    error: RawByteString;
  end;
const
  Cases: array[0..4] of TCase = (
    (image: ''; code: VDFLEET_OK; records: 0; firstKey: ''; error: ''),
    (image: '1P0002A1##Tea'#13#10#13#10'3P05AHi'#10; code: VDFLEET_OK; records: 2; firstKey: 'item 0002'; error: ''),
    (image: '3P05AHi'#10'1P0002A1##Tea'; code: VDFLEET_OK; records: 2; firstKey: 'item 0002'; error: ''),
    (image: '1P0002A1'#10'1P2A3'#10; code: VDFLEET_E_TEXT; records: 0; firstKey: ''; error: 'image:2: item 0002 a second time'),
    (image: 'hello'#10; code: VDFLEET_E_TEXT; records: 0; firstKey: ''; error: 'image:1: not a record'));
var
  session: PVDFleetSession;
  i: Integer;
  code: Integer;
begin
  session := Open(VDFLEET_TEXT_UTF8, '');
  for i := Low(Cases) to High(Cases) do
  begin
    code := VDFleetReadImage(session, PAnsiChar(Cases[i].image));
    Check('image ' + IntToStr(i) + ': ' + FleetCodeName(Cases[i].code), code = Cases[i].code);
    Check('image ' + IntToStr(i) + ': records', FleetResultCount(session) = Cases[i].records);
    if Cases[i].records > 0 then
      Check('image ' + IntToStr(i) + ': first ' + string(Cases[i].firstKey),
        FleetResultText(session, 0, VDFLEET_KEY) = Cases[i].firstKey);
    Check('image ' + IntToStr(i) + ': error ''' + string(Cases[i].error) + '''',
      Contains(FleetLastError(session), Cases[i].error));
  end;
  FleetCheck(session, VDFleetReadImage(session, '7Pfree'#10'1P0001A5##' + MilkUtf8 + #10), 'VDFleetReadImage');
  Check('image: the item''s fields and Chinese as written',
    (FleetResultNumber(session, 0, VDFLEET_TYPE) = 1) and (FleetResultNumber(session, 0, VDFLEET_NUMBER) = 1) and
    (FleetResultText(session, 0, VDFLEET_RECORD) = '1P0001A5##' + MilkUtf8));
  Check('image: type 7 data has number -1', FleetResultNumber(session, 1, VDFLEET_NUMBER) = -1);
  VDFleetClose(session);

  { The same record in a GBK session: GBK bytes in and out. }
  session := Open(VDFLEET_TEXT_GBK, '');
  FleetCheck(session, VDFleetReadImage(session, '1P0001A5##' + MilkGbk + #10), 'VDFleetReadImage');
  Check('image, GBK: the record''s bytes as written', FleetResultText(session, 0, VDFLEET_RECORD) = '1P0001A5##' + MilkGbk);
  VDFleetClose(session);
end;

procedure TestDiff;
type
  TCase = record
    a, b: RawByteString;
    rows: Cardinal;
    kind: Int64;
    field, before, after: RawByteString;
  end;
const
  Cases: array[0..4] of TCase = (
    (a: '1P0001A5##Milk'#10; b: '1P1A5##Milk'#10; rows: 0; kind: 0; field: ''; before: ''; after: ''),
    (a: ''; b: '1P0004A1##Tea'#10; rows: 1; kind: VDFLEET_ADDED; field: ''; before: ''; after: '1P0004A1##Tea'),
    (a: '1P0004A1##Tea'#10; b: ''; rows: 1; kind: VDFLEET_REMOVED; field: ''; before: '1P0004A1##Tea'; after: ''),
    (a: '1P0005A1##Tea'#10; b: '1P0005A2##Tea'#10; rows: 1; kind: VDFLEET_CHANGED; field: 'fields'; before: '1'; after: '2'),
    (a: '1P0006A1##' + TeaUtf8 + #10; b: '1P0006A1##' + CoffeeUtf8 + #10; rows: 1; kind: VDFLEET_CHANGED;
     field: 'text 1'; before: TeaUtf8; after: CoffeeUtf8));
var
  session: PVDFleetSession;
  i: Integer;
begin
  session := Open(VDFLEET_TEXT_UTF8, '');
  for i := Low(Cases) to High(Cases) do
  begin
    FleetCheck(session, VDFleetDiff(session, PAnsiChar(Cases[i].a), PAnsiChar(Cases[i].b)), 'VDFleetDiff');
    Check('diff ' + IntToStr(i) + ': rows', FleetResultCount(session) = Cases[i].rows);
    if (Cases[i].rows = 0) or (FleetResultCount(session) = 0) then Continue;
    Check('diff ' + IntToStr(i) + ': kind, field, before and after',
      (FleetResultNumber(session, 0, VDFLEET_KIND) = Cases[i].kind) and
      (FleetResultText(session, 0, VDFLEET_FIELD) = Cases[i].field) and
      (FleetResultText(session, 0, VDFLEET_BEFORE) = Cases[i].before) and
      (FleetResultText(session, 0, VDFLEET_AFTER) = Cases[i].after));
  end;
  Check('diff: the image that is not one is named',
    RaisedCode(session, VDFleetDiff(session, '1P0001A1'#10, 'junk'#10), 'VDFleetDiff', 'image b:1:') = VDFLEET_E_TEXT);
  VDFleetClose(session);
end;

procedure PrintScales(session: PVDFleetSession);
var
  row: Cardinal;
begin
  for row := 0 to Integer(FleetResultCount(session)) - 1 do
    WriteLn('  ', FleetResultText(session, row, VDFLEET_ADDRESS), ' ',
      FleetResultText(session, row, VDFLEET_STATUS_NAME),
      ' planned ', FleetResultNumber(session, row, VDFLEET_PLANNED),
      ' confirmed ', FleetResultNumber(session, row, VDFLEET_CONFIRMED),
      ' pending ', FleetResultNumber(session, row, VDFLEET_PENDING),
      ' code ', FleetResultText(session, row, VDFLEET_CODE_NAME),
      ' cause ''', FleetResultText(session, row, VDFLEET_CAUSE), '''');
end;

function SyncRequest(const lines, addresses: TFleetTexts): TVDFleetSyncRequest;
begin
  Result := NewFleetSyncRequest;
  Result.record_type := 1;
  Result.lines := FleetTextList(lines);
  Result.line_count := Length(lines);
  Result.addresses := FleetTextList(addresses);
  Result.address_count := Length(addresses);
end;

{ The three scales and the one that is off: three synced, the fourth failed with its cause; the
  same list again finds the three in step; a GBK session reads back the GBK bytes. }
procedure TestSync(const all: TTexts);
var
  session, gbk: PVDFleetSession;
  texts: TTexts;
  lines, addresses: TFleetTexts;
  request: TVDFleetSyncRequest;
  progress: TProgress;
  row: Cardinal;
  image, first: RawByteString;
const
  ItemType: Cardinal = 1;
begin
  texts := ItemLines(1, MilkUtf8);
  lines := FleetTexts(texts);
  addresses := FleetTexts(all);
  session := Open(VDFLEET_TEXT_UTF8, 'state');
  FillChar(progress, SizeOf(progress), 0);
  progress.countsHold := True;
  FleetCheck(session, VDFleetSetProgress(session, OnProgress, @progress), 'VDFleetSetProgress');
  request := SyncRequest(lines, addresses);

  Check('sync: a scale that is off is VDFLEET_SCALES, with rows',
    FleetCheck(session, VDFleetSync(session, @request), 'VDFleetSync', VDFLEET_SCALES) = VDFLEET_SCALES);
  PrintScales(session);
  Check('sync: a row a scale', FleetResultCount(session) = 4);
  for row := 0 to 2 do
    Check('sync: ' + string(all[row]) + ' synced, every item confirmed',
      (FleetResultText(session, row, VDFLEET_ADDRESS) = all[row]) and
      (FleetResultNumber(session, row, VDFLEET_STATUS) = VDFLEET_STATUS_SYNCED) and
      (FleetResultText(session, row, VDFLEET_STATUS_NAME) = 'synced') and
      (FleetResultNumber(session, row, VDFLEET_PLANNED) = Items) and
      (FleetResultNumber(session, row, VDFLEET_CONFIRMED) = Items) and
      (FleetResultNumber(session, row, VDFLEET_PENDING) = 0) and
      (FleetResultText(session, row, VDFLEET_CAUSE) = ''));
  Check('sync: the scale that is off failed, with a transport code and a cause',
    (FleetResultNumber(session, 3, VDFLEET_STATUS) = VDFLEET_STATUS_FAILED) and
    (FleetResultNumber(session, 3, VDFLEET_CODE) <> 0) and
    (Copy(FleetResultText(session, 3, VDFLEET_CODE_NAME), 1, 5) = 'WQDS_') and
    (FleetResultText(session, 3, VDFLEET_CAUSE) <> ''));
  Check('sync: progress told the sending, never more done than in all',
    progress.sawSending and progress.countsHold);

  FleetCheck(session, VDFleetSync(session, @request), 'VDFleetSync', VDFLEET_SCALES);
  for row := 0 to 2 do
    Check('sync again: ' + string(all[row]) + ' in step',
      (FleetResultNumber(session, row, VDFLEET_STATUS) = VDFLEET_STATUS_IN_STEP) and
      (FleetResultNumber(session, row, VDFLEET_UNCHANGED) = Items) and
      (FleetResultNumber(session, row, VDFLEET_WRITTEN) = 0));
  Check('sync again: the scale that is off failed again',
    FleetResultNumber(session, 3, VDFLEET_STATUS) = VDFLEET_STATUS_FAILED);
  VDFleetClose(session);

  gbk := Open(VDFLEET_TEXT_GBK, '');
  first := '1P0001A5##' + MilkGbk + ' 1'#10;
  Check('read in GBK: VDFLEET_SCALES for the scale that is off',
    VDFleetReadScales(gbk, FleetTextList(addresses), 4, @ItemType, 1, 1, Items) = VDFLEET_SCALES);
  for row := 0 to 2 do
  begin
    image := FleetResultText(gbk, row, VDFLEET_IMAGE);
    Check('read in GBK: ' + string(all[row]) + ' holds the list, its text in GBK bytes',
      (FleetResultNumber(gbk, row, VDFLEET_RECORDS) = Items) and
      (Copy(image, 1, Length(first)) = first) and
      Contains(image, '1P0060A5##' + MilkGbk + ' 60'#10) and not Contains(image, MilkUtf8));
  end;
  Check('read in GBK: the scale that is off says why',
    (FleetResultNumber(gbk, 3, VDFLEET_RECORDS) = 0) and (FleetResultText(gbk, 3, VDFLEET_CAUSE) <> ''));
  VDFleetClose(gbk);
end;

{ A progress function that answers non-zero: stopped, each scale interrupted with its pending
  what it did not confirm; the next run sends only the rest. }
procedure TestStop(const all: TTexts);
var
  session: PVDFleetSession;
  texts: TTexts;
  lines, addresses: TFleetTexts;
  request: TVDFleetSyncRequest;
  progress: TProgress;
  answered: Cardinal;
  row: Cardinal;
  planned: Int64;
begin
  texts := ItemLines(101, 'Salt');
  lines := FleetTexts(texts);
  addresses := FleetTexts(all);
  session := Open(VDFLEET_TEXT_UTF8, 'state-stop');
  FillChar(progress, SizeOf(progress), 0);
  progress.stopAfter := 4;
  FleetCheck(session, VDFleetSetProgress(session, OnProgress, @progress), 'VDFleetSetProgress');
  request := SyncRequest(lines, addresses);
  Check('stop: VDFLEET_E_STOPPED, naming the stop',
    RaisedCode(session, VDFleetSync(session, @request), 'VDFleetSync', 'stopped') = VDFLEET_E_STOPPED);
  PrintScales(session);
  Check('stop: the rows tell each scale', FleetResultCount(session) = 4);
  for row := 0 to 2 do
    Check('stop: ' + string(all[row]) + ' interrupted, pending what it did not confirm',
      (FleetResultNumber(session, row, VDFLEET_STATUS) = VDFLEET_STATUS_INTERRUPTED) and
      (FleetResultNumber(session, row, VDFLEET_PENDING) = Items - FleetResultNumber(session, row, VDFLEET_CONFIRMED)) and
      (FleetResultNumber(session, row, VDFLEET_PENDING) > 0));

  answered := progress.answered;
  progress.stopAfter := 0;
  FleetCheck(session, VDFleetSync(session, @request), 'VDFleetSync', VDFLEET_SCALES);
  PrintScales(session);
  for row := 0 to 2 do
  begin
    planned := FleetResultNumber(session, row, VDFLEET_PLANNED);
    Check('after the stop: ' + string(all[row]) + ' gets only the rest, all confirmed',
      (FleetResultNumber(session, row, VDFLEET_STATUS) = VDFLEET_STATUS_SYNCED) and
      (planned < Items) and (planned >= Items - Int64(answered)) and
      (FleetResultNumber(session, row, VDFLEET_CONFIRMED) = planned));
  end;

  { A cancel while no call runs is not kept: the next call is not stopped by it. }
  VDFleetCancel(session);
  Check('a cancel between calls does not stop the next', VDFleetSync(session, @request) = VDFLEET_SCALES);
  Check('the call after is not stopped', VDFleetSync(session, @request) = VDFLEET_SCALES);
  Check('a session in no call closes', VDFleetClose(session) = VDFLEET_OK);
end;

procedure TestErrors(const all: TTexts);
var
  session: PVDFleetSession;
  lines, addresses: TFleetTexts;
  request: TVDFleetSyncRequest;
  options: TVDFleetOptions;
  texts: TTexts;
begin
  session := Open(VDFLEET_TEXT_UTF8, '');
  texts := ItemLines(1, 'Tea');
  lines := FleetTexts(texts);
  addresses := FleetTexts(all);
  request := SyncRequest(lines, addresses);
  Check('a sync without a state directory names it',
    RaisedCode(session, VDFleetSync(session, @request), 'VDFleetSync', 'state directory') = VDFLEET_E_ARGUMENT);
  Check('a failing call leaves no rows', FleetResultCount(session) = 0);
  request.size := 8;
  Check('a request smaller than this header''s is VDFLEET_E_ARGUMENT', VDFleetSync(session, @request) = VDFLEET_E_ARGUMENT);
  VDFleetClose(session);

  options := NewFleetOptions;
  options.text := 2;
  Check('an unknown text mode is VDFLEET_E_ARGUMENT, no session',
    (VDFleetOpen(@options, session) = VDFLEET_E_ARGUMENT) and (session = nil));
  Check('no session is VDFLEET_E_SESSION', VDFleetClose(nil) = VDFLEET_E_SESSION);
  Check('the library''s version', VDFleetVersion >= 10000);
end;

var
  live, all, slow: TTexts;
  down: RawByteString;
begin
  live := Split(GetEnvironmentVariable('VUDADUV_TEST_FLEET'));
  down := GetEnvironmentVariable('VUDADUV_TEST_SCALE_DOWN');
  if (Length(live) <> 3) or (down = '') then
  begin
    WriteLn('run me beside virtual scales (VUDADUV_TEST_FLEET, VUDADUV_TEST_SCALE_DOWN)');
    Halt(2);
  end;
  all := Copy(live, 0, 3);
  SetLength(all, 4);
  all[3] := down;

  TestCheck;
  TestImages;
  TestDiff;
  TestSync(all);
  { The stop needs scales that take their time: the progress function is told the lines
    answered at most every 10 ms, and the fast scales may be done within that. }
  slow := Copy(Split(GetEnvironmentVariable('VUDADUV_TEST_SLOW_FLEET')), 0, 3);
  SetLength(slow, 4);
  slow[3] := down;
  TestStop(slow);
  TestErrors(all);

  if Failures = 0 then WriteLn('all checks hold') else WriteLn(Failures, ' check(s) failed');
  if Failures > 0 then Halt(1);
end.
