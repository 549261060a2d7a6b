var v: Variant;
  i: Integer;
begin
  i := 1;
  v.Visible := True;
end.
