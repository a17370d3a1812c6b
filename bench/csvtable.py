# A 10 MB CSV text read into rows, then written again.
import csv, io
row = '12345,"user, name",alpha_beta,12.5,"multi\nline ""quoted"" text",true\n'
s = row * 160000
v = list(csv.reader(io.StringIO(s, newline="")))
out = io.StringIO(newline="")
csv.writer(out, lineterminator="\n").writerows(v)
t = out.getvalue()
print(len(s), len(v), len(t))
