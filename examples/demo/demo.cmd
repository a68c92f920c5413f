help()
help(functions)
q()
