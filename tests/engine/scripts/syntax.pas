var i: Integer;
begin
  ;;
  Print('a');;
  if True then
  else Print('never');
  begin end;
  i := 1;
  case i of
    1: ;
  end;
  Print('b')
end.
