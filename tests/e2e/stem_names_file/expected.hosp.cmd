iter()
q()
