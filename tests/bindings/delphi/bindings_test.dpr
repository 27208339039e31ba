{ The Delphi declarations against the built library and a virtual scale: two items with Chinese
  texts go down and come back through each export, and the upload lines must be exactly the GBK
  bytes expected; then the result codes. Exit status 0 when every check holds. }
program bindings_test;

uses
  SysUtils, Vudaduv;

type
  TExport = (eTCPSend, eTCPSendEn, eTCPSendST, eTCPSendSTEn, eCOMMSend, eCOMMSendEn);

const
  ExportNames: array[TExport] of string =
    ('WQTCPSend', 'WQTCPSendEn', 'WQTCPSendST', 'WQTCPSendSTEn', 'WQCOMMSend', 'WQCOMMSendEn');
  QuickSettings: array[0..2] of Cardinal = (1000, 1000, 1);  { time-outs in ms, one retry }
  CrLf = #13#10;

var
  Failures: Integer = 0;
  SerialLine: Cardinal;

function Send(which: TExport; const target: AnsiString; recordType: Cardinal;
  const lines: array of AnsiString): Integer;
var
  pointers: array of PAnsiChar;
  targetPointer: PAnsiChar;
  targets, list: TWQStringList;
  tcp: TWQTCP;
  st: TWQST;
  comm: TWQCOMM;
  i: Integer;
begin
  SetLength(pointers, Length(lines));
  for i := 0 to High(lines) do
    pointers[i] := PAnsiChar(lines[i]);
  list.count := Length(lines);
  if Length(lines) > 0 then list.items := @pointers[0] else list.items := nil;
  targetPointer := PAnsiChar(target);
  targets.items := @targetPointer;
  targets.count := 1;
  FillChar(tcp, SizeOf(tcp), 0);
  FillChar(st, SizeOf(st), 0);
  FillChar(comm, SizeOf(comm), 0);
  case which of
    eTCPSend, eTCPSendEn:
      begin
        tcp.targets := targets; tcp.lines := list; tcp.record_type := recordType;
        if which = eTCPSend then Result := WQTCPSend(@tcp) else Result := WQTCPSendEn(@tcp);
      end;
    eTCPSendST, eTCPSendSTEn:
      begin
        st.targets := targets; st.lines := list; st.record_type := recordType;
        st.values.items := @QuickSettings[0];
        st.values.count := Length(QuickSettings);
        if which = eTCPSendST then Result := WQTCPSendST(@st) else Result := WQTCPSendSTEn(@st);
      end;
  else
    comm.link := SerialLine; comm.lines := list; comm.record_type := recordType;
    if which = eCOMMSend then Result := WQCOMMSend(@comm) else Result := WQCOMMSendEn(@comm);
  end;
end;

procedure Check(const what: string; holds: Boolean);
begin
  if holds then WriteLn('ok     ', what) else WriteLn('FAILED ', what);
  if not holds then Inc(Failures);
end;

function UploadFile: AnsiString;
var
  f: File;
begin
  Result := '';
  if not FileExists('Rec.txt') then Exit;
  AssignFile(f, 'Rec.txt');
  Reset(f, 1);
  SetLength(Result, FileSize(f));
  if Length(Result) > 0 then BlockRead(f, Result[1], Length(Result));
  CloseFile(f);
end;

procedure WriteUploadFile(const bytes: AnsiString);
var
  f: File;
begin
  AssignFile(f, 'Rec.txt');
  Rewrite(f, 1);
  BlockWrite(f, bytes[1], Length(bytes));
  CloseFile(f);
end;

procedure ItemsRoundTrip(which: TExport; const target: AnsiString;
  const items, numbers: array of AnsiString);
var
  name: string;
  expected: AnsiString;
  i: Integer;
begin
  name := ExportNames[which];
  DeleteFile('Rec.txt');
  Check(name + ': download', Send(which, target, 1, items) = WQ_OK);
  Check(name + ': acknowledgements leave no upload line', UploadFile = '');
  Check(name + ': read back', Send(which, target, 2, numbers) = WQ_OK);
  expected := '';
  for i := 0 to High(items) do
    expected := expected + '1P' + items[i] + CrLf;
  Check(name + ': upload lines byte for byte', UploadFile = expected);
end;

const
  { Zone-position text carries any GBK text; code-page text the characters of its table. }
  Apple = #$C6#$BB#$B9#$FB;           { ping guo }
  RedFuji = #$BA#$EC#$B8#$BB#$CA#$BF; { hong fu shi }
  Banana = #$CF#$E3#$BD#$B6;          { xiang jiao }
  Degree = #$A1#$E3;
  Yuan = #$A3#$A4;
  Alpha = #$A6#$C1;
  Beta = #$A6#$C2;

var
  scale: AnsiString;
  chinese, codePage: array[0..1] of AnsiString;
  which: TExport;
  kept: AnsiString;
begin
  scale := GetEnvironmentVariable('VUDADUV_TEST_SCALE');
  if (scale = '') or (GetEnvironmentVariable('VUDADUV_TEST_SERIAL_LINE') = '') then
  begin
    WriteLn('run me beside a virtual scale (VUDADUV_TEST_SCALE, VUDADUV_TEST_SERIAL_LINE)');
    Halt(2);
  end;
  SerialLine := StrToInt(GetEnvironmentVariable('VUDADUV_TEST_SERIAL_LINE'));
  chinese[0] := '0012A0100000599##' + Apple + '##Apple##' + RedFuji;
  chinese[1] := '0013A0200000350##' + Banana + '##Banana';
  codePage[0] := '0014A01##Keep at 4' + Degree + 'C##' + Yuan + '4.99';
  codePage[1] := '0015A02##' + Alpha + '-' + Beta;

  for which := Low(TExport) to High(TExport) do
    if which in [eTCPSend, eTCPSendST, eCOMMSend] then
      ItemsRoundTrip(which, scale, chinese, ['12', '13'])
    else
      ItemsRoundTrip(which, scale, codePage, ['14', '15']);

  kept := '7Pkept' + CrLf;
  WriteUploadFile(kept);
  Check('no data line: WQ_NOTHING_TO_SEND', Send(eTCPSend, scale, 2, []) = WQ_NOTHING_TO_SEND);
  Check('no data line: Rec.txt untouched', UploadFile = kept);
  Check('an address without a valid port: WQ_TRANSPORT_FAILED',
    Send(eTCPSendST, '127.0.0.1:99999', 2, ['12']) = WQ_TRANSPORT_FAILED);
  Check('a failed transport: Rec.txt rewritten, upload lines kept', UploadFile = kept);

  if Failures = 0 then WriteLn('all checks hold') else WriteLn(Failures, ' check(s) failed');
  if Failures > 0 then Halt(1);
end.
