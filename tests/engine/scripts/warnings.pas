var Flag: Boolean;
begin
  Flag := True;
  if Flag and True then Print('a');
  if Flag and False then Print('b');
  if Flag or True then Print('c');
  if Flag or False then Print('d');
  if True and Flag then Print('e');
  Unknown;
end.
