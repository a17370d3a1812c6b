# A 10 MB JSON document decoded, then encoded again.
import json
rec = '{"id":12345,"name":"user \\u00e9 name","tags":["alpha","beta","gamma"],"score":12.5,"ok":true,"none":null,"nested":{"a":[1,2,3],"b":"text with \\"quotes\\""}},'
s = "[" + rec * 70000 + '{"id":0}]'
v = json.loads(s)
t = json.dumps(v, ensure_ascii=False, separators=(",", ":"))
print(len(s), len(v), len(t))
