begin
  goto Nowhere;
end.
