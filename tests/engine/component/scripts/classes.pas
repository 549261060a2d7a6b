var
  Bits: TBits;
  Owner, Child: TComponent;
  M: TMemoryStream;
  P: TParser;
  S: String;
begin
  Bits := TBits.Create;
  Bits.Bits[3] := True;
  Bits.Bits[0] := True;
  Writeln(IntToStr(Bits.Size) + ' ' + IntToStr(Bits.OpenBit));
  Bits.Free;

  Owner := TComponent.Create(nil);
  Owner.Name := 'Form';
  Child := TComponent.Create(Owner);
  Child.Name := 'Button';
  Child.Tag := 7;
  Writeln(IntToStr(Owner.ComponentCount) + ' ' + Owner.Components[0].Name);
  if Owner.FindComponent('button') = Child then Writeln('found ' + IntToStr(Child.Tag));
  if Child.Owner = Owner then Writeln('owned');
  Owner.Free;

  M := TMemoryStream.Create;
  S := 'alpha 42 ''text''';
  M.Write(S, Length(S));
  M.Position := 0;
  P := TParser.Create(M);
  Writeln(P.TokenString);
  P.NextToken;
  Writeln(IntToStr(P.TokenInt + 1));
  P.NextToken;
  Writeln(P.TokenString);
  P.Free;
  M.Free;
  Writeln(IntToStr(Child.Tag));
end.
