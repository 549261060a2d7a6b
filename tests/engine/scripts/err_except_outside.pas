begin
  except
end.
