-- Neovim's built-in language client against `velmar lsp`, headless: opens a
-- script, waits for its diagnostics, asks for completion, hover and
-- definition and checks the answers. Run as
--   VELMAR=... SCRIPT=... nvim --headless --clean -u NONE -c "luafile neovim_client.lua"
-- and exits 0 when every check passed, 1 with the reason on standard error.
local velmar = os.getenv("VELMAR")
local script = os.getenv("SCRIPT")

local function fail(message)
  io.stderr:write("neovim client: " .. message .. "\n")
  vim.cmd("cquit 1")
end

local ok, err = pcall(function()
  vim.cmd("edit " .. vim.fn.fnameescape(script))
  local buf = vim.api.nvim_get_current_buf()
  local client = vim.lsp.start_client({
    name = "velmar",
    cmd = { velmar, "lsp" },
    root_dir = vim.fn.fnamemodify(script, ":h"),
  })
  assert(client, "the server did not start")
  vim.lsp.buf_attach_client(buf, client)

  assert(vim.wait(10000, function() return #vim.diagnostic.get(buf) > 0 end, 20),
    "no diagnostics within 10 s")
  local found = false
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    if d.message:find("<nowhere>", 1, true) then
      found = d.lnum == 3 and d.severity == vim.diagnostic.severity.ERROR
    end
  end
  assert(found, "no error on line 4 for goto <nowhere>: " .. vim.inspect(vim.diagnostic.get(buf)))

  local function request(method, line, character)
    local params = { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = line, character = character } }
    local replies = vim.lsp.buf_request_sync(buf, method, params, 5000)
    assert(replies and replies[client], method .. ": no answer")
    assert(not replies[client].err, method .. ": " .. vim.inspect(replies[client].err))
    return replies[client].result
  end

  -- Line 5 is "show [#count] [@len<<<abc]".
  local labels = {}
  for _, item in ipairs(request("textDocument/completion", 4, 8).items) do labels[item.label] = item end
  assert(labels["count"], "no variable count in the completion")
  local builtins = {}
  for _, item in ipairs(request("textDocument/completion", 4, 17).items) do builtins[item.label] = item end
  assert(builtins["len"] and builtins["len"].detail:find("[@len", 1, true), "no built-in len with its shape")

  local hover = request("textDocument/hover", 1, 1)
  assert(hover and hover.contents.value:find("var [#NAME] VALUE", 1, true), "hover shows no manual entry")

  local definition = request("textDocument/definition", 2, 7)
  assert(definition and definition[1] and definition[1].range.start.line == 5,
    "definition of <sub> is not line 6: " .. vim.inspect(definition))

  vim.lsp.stop_client(client)
end)
if not ok then fail(tostring(err)) end
vim.cmd("qall!")
